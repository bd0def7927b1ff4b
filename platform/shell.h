#pragma once
#include <QString>

class QWidget;

// Hands documents and links to the desktop, and starts the volume control. Results are not
// examined; nothing is passed through a command shell.
namespace larkspur {

struct ShellRequest {
    QWidget* owner = nullptr;  // window the request is made for; may be none
    QString verb;              // "open", or empty for the default action
    QString target;            // a URL ("mailto:...", "https://...") or a local file path
};

class Shell {
public:
    virtual ~Shell() = default;
    virtual void Execute(const ShellRequest& request) = 0;
    virtual void StartVolumeControl() = 0;
    // Whether a volume-control program is installed for StartVolumeControl to start.
    virtual bool HasVolumeControl() const { return true; }
};

// The shell in use: the desktop's unless a test has put its own in place.
Shell& TheShell();
// Puts a test double in place (nullptr restores the desktop's); returns the previous override.
Shell* SetShellForTest(Shell* shell);

}  // namespace larkspur
