#include "ui/Words.h"

#include "ui/Texts.h"

namespace qv::ui {

QString ArticleText(long long number, std::string_view name) {
    return QString::number(number) + QStringLiteral("条 ") + ShownText(name);
}

QString UnitOf(const QString& implementName) {
    const QString name = implementName.trimmed();
    return name.endsWith(QStringLiteral("(分)")) || name.endsWith(QStringLiteral("（分）"))
               ? QStringLiteral("分")
               : QStringLiteral("回");
}

QString CountText(long long count, const QString& implementName) {
    return QString::number(count) + UnitOf(implementName);
}

}  // namespace qv::ui
