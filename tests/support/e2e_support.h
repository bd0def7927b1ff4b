#pragma once
#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// The built program run for real under the test's own X server and sound server.
namespace larkspur::test {

// A private copy of the output folder, so that the program's INI files and recordings land where
// no other test looks.
class ProgramCopy {
public:
    // Copies these files of the output folder (LARKSPUR_OUT_DIR), keeping their sub-folders.
    explicit ProgramCopy(const QStringList& files = {"larkspur", "libkbtap.so", "Web/ourproducts.htm"});
    bool Valid() const { return valid_; }
    QString Path(const QString& name) const { return dir_.filePath(name); }
    QString Dir() const { return dir_.path(); }
    void Write(const QString& name, const QByteArray& bytes) const;
    // Starts the copy with its output forwarded to the test's, through a launcher if given
    // (the launcher's arguments, then the program's path, then its own arguments).
    void Start(QProcess& program, const QStringList& arguments = {}, const QStringList& launcher = {}) const;

private:
    QTemporaryDir dir_;
    bool valid_ = false;
};

// Runs a tool without a shell and returns what it printed, trimmed (empty after 10 s).
QString Tool(const QString& program, const QStringList& args);

// The program's visible windows (its X class), waiting up to timeoutMs for the first.
QStringList WaitForProgramWindows(int timeoutMs = 10000);

}  // namespace larkspur::test
