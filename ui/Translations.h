#pragma once

namespace qv::ui {

// Installs Qt's own Japanese translations (qtbase_ja.qm) into the running application, so
// the toolkit's buttons and standard texts ("OK", "キャンセル", the command line help)
// match the program's Japanese. The interface is Japanese whatever the locale, so the
// Japanese file is loaded always. False when it is not installed: the toolkit then
// speaks English, and nothing else changes.
bool InstallToolkitTranslations();

}  // namespace qv::ui
