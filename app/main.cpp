#include "app/CZQTCAServiceClientApp.h"
#include "app/StandardDescriptors.h"
#include "service/master_services.h"

namespace {

// Before every static object (the host makes its wake pipe in one), so that
// no descriptor of ours can take the number of a closed standard one.
[[gnu::constructor(101)]] void OpenStandardDescriptorsFirst() {
    zqt::OpenMissingStandardDescriptors();
}

// The host, and with it the dispatch lock, exist before start-up begins.
[[maybe_unused]] master_services& host = master_services::get_instance();

}  // namespace

int main(int argc, char** argv) {
    CZQTCAServiceClientApp app;
    return app.InitInstance(argc, argv);
}
