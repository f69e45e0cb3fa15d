#pragma once
// The application: the command line, the locale, the single-instance guard,
// then the main loop object.

class CZQTCAServiceClientApp {
  public:
    // Returns the process's exit status.
    int InitInstance(int argc, const char* const* argv);
};
