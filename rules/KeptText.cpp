#include "rules/KeptText.h"

#include <QLineEdit>
#include <limits>

#include "ui/Texts.h"

namespace qv::ui {

void KeptText::Fill(QLineEdit* edit, std::string bytes) {
    edit->setMaxLength(std::numeric_limits<int>::max());
    edit->setText(FromCp932(bytes));
    edit->setCursorPosition(0);
    // Compared with what the field reports, so whatever the field does to a text on
    // the way in still counts as untouched.
    shown_ = edit->text();
    bytes_ = std::move(bytes);
}

std::optional<std::string> KeptText::Read(const QLineEdit* edit, const QString& fieldName,
                                          QWidget* parent) const {
    const QString typed = edit->text();
    if (typed == shown_) return bytes_;
    return FieldToCp932(typed, fieldName, parent);
}

}  // namespace qv::ui
