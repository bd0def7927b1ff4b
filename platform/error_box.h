#pragma once
#include <QString>
#include <exception>
#include <utility>

// The application's error box: every event handler runs through Guarded(), so that an exception
// never crosses Qt's event dispatch; it is shown and the program carries on.
namespace larkspur {

// The box text for an error message: "." is appended when the last character sorts after ".".
QString ErrorBoxText(const QString& message);

// Shows the error box for the exception currently being handled (call inside a catch block).
void ShowCurrentException();

template <class F>
void Guarded(F&& handler) noexcept {
    try {
        std::forward<F>(handler)();
    } catch (...) {
        ShowCurrentException();
    }
}

}  // namespace larkspur
