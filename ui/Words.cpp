#include "ui/Words.h"

#include "ui/Texts.h"

namespace qv::ui {

QString ArticleText(long long number, std::string_view name) {
    return QString::number(number) + QStringLiteral("条 ") + ShownText(name);
}

QString ArticleText(std::string_view number, std::string_view name) {
    return ShownText(number) + QStringLiteral("条 ") + ShownText(name);
}

}  // namespace qv::ui
