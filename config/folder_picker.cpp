#include "config/folder_picker.h"

#include <QFileDialog>
#include <QFileInfo>

namespace larkspur {
namespace {

class QtFolderPicker final : public FolderPicker {
public:
    std::optional<QString> PickFolder(QWidget* owner, const QString& title) override {
        const QString dir = QFileDialog::getExistingDirectory(owner, title, QString(),
                                                              QFileDialog::ShowDirsOnly);
        if (dir.isEmpty() || !QFileInfo(dir).isDir()) return std::nullopt;
        return dir;
    }
};

}  // namespace

FolderPicker& DesktopFolderPicker() {
    static QtFolderPicker picker;
    return picker;
}

}  // namespace larkspur
