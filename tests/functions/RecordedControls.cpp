#include "RecordedControls.h"

#include <clocale>
#include <mutex>
#include <stdexcept>

#include "controls/CertSealList.h"
#include "controls/HostedControl.h"

RecordedControls& TheRecordedControls() {
    static const bool created =
        CUlvoctrlctrl::Instance().Create() && CUlvocertenrollctrl::Instance().Create();
    if (!created) {
        throw std::runtime_error("the recording modules are not on LD_LIBRARY_PATH");
    }
    static RecordedControls controls;
    return controls;
}

void RecordedControlsTest::SetUp() {
    ASSERT_NE(std::setlocale(LC_ALL, "C.UTF-8"), nullptr);
    Main().Reset();
    Enrolment().Reset();
    ClearCachedList();
}

void RecordedControlsTest::TearDown() {
    std::setlocale(LC_ALL, "C");
}

void ClearCachedList() {
    SetCachedList(u"");
}

void SetCachedList(const std::u16string& text) {
    CertSealListCache& cache = TheCertSealListCache();
    std::lock_guard lock(cache.listLock);
    cache.text = text;
}

std::u16string CachedList() {
    CertSealListCache& cache = TheCertSealListCache();
    std::lock_guard lock(cache.listLock);
    return cache.text;
}
