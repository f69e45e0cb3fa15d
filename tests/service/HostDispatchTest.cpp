// The host's own dispatch: request texts run through RunProcess, UTF-8 on
// both sides.
#include <gtest/gtest.h>

#include <string>

#include "protocol/RunProcess.h"
#include "service/master_services.h"
#include "support/TextConversion.h"

namespace {

TEST(HostDispatch, RunsRequestTextsWithRunProcess) {
    const request_dispatch& dispatch = master_services::get_instance().dispatch();
    // No step runs, so no control is asked and no log line is written.
    EXPECT_EQ(dispatch.RunRequestText("ProcessNum{0}ProcessEntity-1{FunctionType[10]}"),
              "FunctionRes[-1]ProcessCallBackName[]");
    const std::string named = "ProcessNum{0}ProcessCallBackName{\xe7\xad\xbe\xe5\x90\x8d}";
    EXPECT_EQ(dispatch.RunRequestText(named),
              zqt::Utf16ToUtf8(RunProcess(zqt::Utf8ToUtf16(named))));
    EXPECT_NE(dispatch.RunRequestText(named).find("\xe7\xad\xbe\xe5\x90\x8d"), std::string::npos);
}

TEST(HostDispatch, LeavesTheDispatchLockFree) {
    master_services& host = master_services::get_instance();
    host.dispatch().RunRequestText("ProcessNum{0}");
    ASSERT_TRUE(host.dispatch_lock().try_lock());
    host.dispatch_lock().unlock();
}

TEST(HostDispatch, LeavesOneAuditLinePerRequestText) {
    const request_dispatch& dispatch = master_services::get_instance().dispatch();
    ::testing::internal::CaptureStderr();
    dispatch.RunRequestText("ProcessNum{0}ProcessCallBackName{Param-Secret}",
                            request_caller{"https://bank.example", "wss"});
    dispatch.RunRequestText("ProcessNum{0}");
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(
        said.find(" origin=\"https://bank.example\" transport=wss functions=- chain=failed\n"),
        std::string::npos)
        << said;
    EXPECT_NE(said.find(" origin=\"\" transport=http functions=- chain=failed\n"),
              std::string::npos)
        << said;
    EXPECT_EQ(said.find("Param-Secret"), std::string::npos) << said;
}

}  // namespace
