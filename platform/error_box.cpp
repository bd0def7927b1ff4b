#include "platform/error_box.h"

#include "platform/message_box.h"

#include <stdexcept>

namespace larkspur {

QString ErrorBoxText(const QString& message) {
    if (!message.isEmpty() && message.back() > QChar('.')) return message + QLatin1Char('.');
    return message;
}

void ShowCurrentException() {
    QString message;  // an exception of an unknown kind carries an empty message
    try {
        throw;
    } catch (const std::exception& e) {
        message = QString::fromLocal8Bit(e.what());
    } catch (...) {
    }
    ShowMessageBox(ApplicationTitle(), ErrorBoxText(message), BoxIcon::Error);
}

}  // namespace larkspur
