#pragma once
#include <QString>
#include <functional>

// Modal message boxes of the program. Tests install a sink so that a box is recorded instead of
// shown (a modal box would block an offscreen test).
namespace larkspur {

enum class BoxIcon { None, Error, Information, Warning };

struct MessageBoxRequest {
    QString caption;
    QString text;
    BoxIcon icon = BoxIcon::None;
};

using MessageBoxSink = std::function<void(const MessageBoxRequest&)>;

// Shows a modal box with an OK button and returns when it is closed.
void ShowMessageBox(const QString& caption, const QString& text, BoxIcon icon);
// A plain box ("ShowMessage"): the application title as caption, no icon.
void ShowPlainMessage(const QString& text);

// Replaces the real boxes; an empty sink restores them. Returns the previous sink.
MessageBoxSink SetMessageBoxSink(MessageBoxSink sink);

// The application title: the task-bar text and the caption of the program's own boxes.
QString ApplicationTitle();
void SetApplicationTitle(const QString& title);

}  // namespace larkspur
