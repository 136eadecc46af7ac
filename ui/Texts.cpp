#include "ui/Texts.h"

#include <QFont>
#include <QStringList>
#include <QTextDocument>
#include <QWidget>
#include <algorithm>

#include "text/Cp932.h"
#include "ui/MessageBox.h"

namespace qv::ui {

QString FromCp932(std::string_view bytes) { return QString::fromStdString(qv::Cp932ToUtf8(bytes)); }

QString ShownText(std::string_view bytes) {
    // A CP932 character takes at most two bytes: the first 2 * kShownChars + 2 bytes give
    // more characters than are shown, so a huge text is never converted whole.
    const size_t enough = static_cast<size_t>(kShownChars) * 2 + 2;
    QString text = FromCp932(bytes.substr(0, std::min(bytes.size(), enough)));
    if (text.size() <= kShownChars && bytes.size() <= enough) return text;
    return text.left(kShownChars) + QStringLiteral("…");  // CP932 has no surrogate pairs
}

QString PlainTip(const QString& text) {
    return text.isEmpty() ? text : Qt::convertFromPlainText(text, Qt::WhiteSpaceNormal);
}

std::optional<std::string> ToCp932(const QString& text) {
    return qv::Utf8ToCp932(text.toStdString());
}

namespace {
// The first character of text that CP932 cannot hold.
QString FirstUnencodable(const QString& text) {
    for (qsizetype i = 0; i < text.size();) {
        qsizetype len = (text.at(i).isHighSurrogate() && i + 1 < text.size()) ? 2 : 1;
        QString ch = text.mid(i, len);
        if (!ToCp932(ch)) return ch;
        i += len;
    }
    return {};
}
}  // namespace

std::optional<std::string> FieldToCp932(const QString& text, const QString& fieldName,
                                        QWidget* parent) {
    if (text.contains(QLatin1Char('\t')) || text.contains(QLatin1Char('\r')) ||
        text.contains(QLatin1Char('\n'))) {
        MessageBox::Show(QStringLiteral("「%1」にタブや改行は使えません。").arg(fieldName), parent);
        return std::nullopt;
    }
    auto bytes = ToCp932(text);
    if (!bytes) {
        MessageBox::Show(QStringLiteral("「%1」の「%2」はShift-JISで表せない文字のため使えません。")
                             .arg(fieldName, FirstUnencodable(text)),
                         parent);
        return std::nullopt;
    }
    return bytes;
}

std::optional<int> ToInt(const QString& text, QWidget* parent) {
    bool ok = false;
    int value = text.trimmed().toInt(&ok);
    if (!ok) {
        MessageBox::Show(QStringLiteral("'%1' は整数ではありません").arg(text), parent);
        return std::nullopt;
    }
    return value;
}

QString TenthsText(int tenths) { return QStringLiteral("%1.%2").arg(tenths / 10).arg(tenths % 10); }

void SetFormFont(QWidget* widget, int pixelSize) {
    QFont font = widget->font();
    font.setFamilies({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("Noto Sans CJK JP")});
    font.setPixelSize(pixelSize);
    widget->setFont(font);
}

}  // namespace qv::ui
