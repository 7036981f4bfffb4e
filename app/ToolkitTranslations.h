#pragma once

class QCoreApplication;
class QLocale;
class QTranslator;

namespace sorvanta {

// Installs Qt's own translations (qtbase: the file dialog, the edit boxes'
// context menu, the message box's buttons) for locale into app, from Qt's
// translations folder. The program's own texts are Chinese in the code and
// not looked up, so they stay as they are. Returns the translator, owned by
// app, or null when Qt has no translation for that locale.
QTranslator* InstallToolkitTranslations(QCoreApplication& app, const QLocale& locale);

}  // namespace sorvanta
