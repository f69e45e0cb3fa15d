#pragma once
// A scripted stand-in for pinentry: a small shell program written into a
// scratch folder that speaks enough Assuan for our client, answers with a
// fixed PIN (or cancels, times out, crashes), and logs every line it was
// sent, so tests can count prompts and read descriptions.

#include <string>
#include <vector>

class FakePinentry {
  public:
    enum class Action { kPin, kCancel, kTimeout, kCrash, kConfirm, kDecline };

    explicit FakePinentry(const std::string& dir);

    // Rewrites the program: later prompts answer this way.
    void Set(Action action, const std::string& pin = "");

    // The program's path (for ZQT_PINENTRY).
    const std::string& program() const { return program_; }

    // Lines sent to the program so far, and how many GETPIN / CONFIRM it got.
    std::vector<std::string> Lines() const;
    int PinPrompts() const;
    int Confirms() const;
    void ClearLog() const;

  private:
    std::string dir_;
    std::string program_;
    std::string log_;
};
