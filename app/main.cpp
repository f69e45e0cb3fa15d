#include "app/CZQTCAServiceClientApp.h"
#include "service/master_services.h"

namespace {

// The host, and with it the dispatch lock, exist before start-up begins.
[[maybe_unused]] master_services& host = master_services::get_instance();

}  // namespace

int main(int argc, char** argv) {
    CZQTCAServiceClientApp app;
    return app.InitInstance(argc, argv);
}
