#pragma once
#include <QString>

class QWidget;

// The Help menu's shell commands. Each hands its target to the desktop and returns at once; the
// outcome is not examined.
namespace larkspur {

inline constexpr char kSupportMailAddress[] = "support@larkspur.example.com";
inline constexpr char kProductWebPage[] = "https://www.larkspur.example.com/";

// The mail link to the support address alone, with no owner window and the verb "open".
void SubmitQuestionBug();
// The product's web page, for the main window, with the default verb.
void OpenProductWebSite(QWidget* mainWindow);
// The local page about the maker's other software beside the executable.
void OpenOtherSoftwarePage(QWidget* mainWindow);

}  // namespace larkspur
