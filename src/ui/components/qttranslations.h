#pragma once

// Qt's own texts (standard buttons, the folder chooser, the text fields' context menu) in the
// interface's language, from the system's Qt translations.
namespace QtTranslations {

// Loads Spanish "qtbase" into the running application. False when the translation is not
// installed (the package qt6-translations-l10n); Qt's texts then stay in English.
bool installSpanish();

} // namespace QtTranslations
