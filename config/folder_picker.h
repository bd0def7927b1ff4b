#pragma once
#include <QString>
#include <optional>

class QWidget;

namespace larkspur {

// Lets the user choose a file-system directory.
class FolderPicker {
public:
    virtual ~FolderPicker() = default;
    // The chosen existing directory, or nothing when the user cancels.
    virtual std::optional<QString> PickFolder(QWidget* owner, const QString& title) = 0;
};

// The desktop's directory chooser.
FolderPicker& DesktopFolderPicker();

}  // namespace larkspur
