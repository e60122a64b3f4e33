#pragma once
// The toolkit's own texts (standard buttons, file dialogs) in Spanish, like
// the rest of the user interface.
class QCoreApplication;

namespace vorel::shell {

// Sets Spanish as the default locale and installs Qt's Spanish catalogue
// from the toolkit's translations folder. False when the catalogue is
// missing: the program then runs with the toolkit's English texts.
bool InstallSpanishTranslations(QCoreApplication *app);

} // namespace vorel::shell
