#pragma once
// The host speaks Portuguese: Qt's own dialogs and buttons in Portuguese, and
// dates, numbers and pickers in the forms of the user's locale.

#include <QString>
#include <string>

class QCoreApplication;

namespace apura::desktop {

// Loads Qt's Brazilian Portuguese translations into the application and makes
// the system's locale the default one (Brazilian Portuguese when the system
// names none, the C locale). False when the translations are not installed;
// the host then runs with Qt's English texts.
bool InstallPortuguese(QCoreApplication& app);

// A date format as the user reads it in a placeholder: the year's letter in
// Portuguese ("dd/mm/yyyy" becomes "dd/mm/aaaa").
QString DatePlaceholder(const std::string& format);

}  // namespace apura::desktop
