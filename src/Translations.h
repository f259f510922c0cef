#pragma once

class QCoreApplication;

// Installs the interface's translation for the system locale, and Qt's own for its standard
// buttons. With no translation for the locale the interface stays in English.
void installTranslations(QCoreApplication &app);
