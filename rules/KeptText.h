#pragma once

#include <QString>
#include <optional>
#include <string>

class QLineEdit;
class QWidget;

namespace qv::ui {

// A text field filled from stored CP932 bytes. What the codec cannot show faithfully
// (bytes that are not CP932, a zero byte, one of CP932's duplicate codes) goes back to
// the file exactly as it came, as long as the user leaves the field alone.
class KeptText {
public:
    // Shows the bytes in the field and lifts its length limit, so a long text is shown
    // whole rather than cut.
    void Fill(QLineEdit* edit, std::string bytes);

    // The bytes to store: the original ones while the field still shows what Fill put
    // there, else the typed text as CP932. A text the file cannot carry (TAB, CR, LF or a
    // character CP932 lacks) is refused with a message naming the field.
    std::optional<std::string> Read(const QLineEdit* edit, const QString& fieldName,
                                    QWidget* parent) const;

private:
    std::string bytes_;
    QString shown_;
};

}  // namespace qv::ui
