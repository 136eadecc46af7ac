#include "history/HistoryForm.h"

#include <QAbstractTableModel>
#include <QBuffer>
#include <QClipboard>
#include <QDate>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QListWidgetItem>
#include <QSplitter>
#include <QStandardPaths>
#include <QTimer>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <cmath>
#include <ctime>
#include <future>
#include <system_error>
#include <set>

#include "history/CsvExport.h"
#include "history/HistoryCharts.h"
#include "history/OutputGuard.h"
#include "records/DataFolder.h"
#include "records/SentenceLog.h"
#include "rulebook/RuleBook.h"
#include "text/FileIo.h"
#include "ui/Accessibility.h"
#include "ui/FileTexts.h"
#include "ui/MessageBox.h"
#include "ui/Placement.h"
#include "ui/Texts.h"

using namespace qv::history;

// The filtered records as table rows. Cell texts are made only when the view asks, so
// a million rows cost the row numbers alone.
class HistoryModel : public QAbstractTableModel {
public:
    HistoryModel(const HistoryIndex& index, QObject* parent)
        : QAbstractTableModel(parent), index_(index) {}

    void SetImplementNames(const std::array<QString, kImplementCount>& names) { names_ = names; }

    void SetRows(Rows rows) {
        beginResetModel();
        rows_ = std::move(rows);
        SortRows(index_, rows_, column_, descending_);
        endResetModel();
    }
    const Rows& GetRows() const { return rows_; }

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(rows_.size());
    }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : kColumnCount;
    }

    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid()) return {};
        const std::uint32_t r = rows_[static_cast<size_t>(index.row())];
        const auto column = static_cast<Column>(index.column());
        if (role == Qt::TextAlignmentRole) {
            if (column == Column::Name || column == Column::Time)
                return int(Qt::AlignLeft | Qt::AlignVCenter);
            if (column == Column::Executed) return int(Qt::AlignCenter);
            return int(Qt::AlignRight | Qt::AlignVCenter);
        }
        if (role != Qt::DisplayRole) return {};
        const SentenceValues& v = index_.Values(r);
        switch (column) {
            case Column::Time:
                return QString::fromStdString(DateTimeText(index_.Time(r)));
            case Column::Number:
                return index_.Article(r).number;
            case Column::Name:
                return qv::ui::ShownText(index_.Article(r).name);
            case Column::Total:
                return QString::number(v.total);
            case Column::Executed:
                return index_.Executed(r) ? QStringLiteral("済") : QStringLiteral("未");
            case Column::Unit1:
            case Column::Unit2:
            case Column::Unit3:
            case Column::Unit4:
                return QString::number(
                    v.units[static_cast<size_t>(index.column() - static_cast<int>(Column::Unit1))]);
            case Column::Points:
                return QString::number(v.points);
        }
        return {};
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
            section >= kColumnCount)
            return QAbstractTableModel::headerData(section, orientation, role);
        return HeaderText(section);
    }

    QString HeaderText(int section) const {
        static const QString kFixed[] = {QStringLiteral("判決日時"), QStringLiteral("条"),
                                         QStringLiteral("条文名"), QStringLiteral("判決ポイント"),
                                         QStringLiteral("執行")};
        if (section < 5) return kFixed[section];
        if (section < 5 + kImplementCount) return names_[static_cast<size_t>(section - 5)];
        return QStringLiteral("ポイント");
    }

    void sort(int column, Qt::SortOrder order) override {
        if (column < 0 || column >= kColumnCount) return;
        emit layoutAboutToBeChanged();
        column_ = static_cast<Column>(column);
        descending_ = order == Qt::DescendingOrder;
        SortRows(index_, rows_, column_, descending_);
        emit layoutChanged();
    }

private:
    const HistoryIndex& index_;
    Rows rows_;
    std::array<QString, kImplementCount> names_;
    Column column_ = Column::Time;
    bool descending_ = true;
};

namespace {

QDate DateOf(qv::Seconds t) {
    const std::time_t seconds = static_cast<std::time_t>(t);
    std::tm tm{};
    ::localtime_r(&seconds, &tm);
    return QDate(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
}

std::optional<qv::Seconds> StartOf(const QDate& date) {
    return LocalDate(date.year(), date.month(), date.day());
}

// A file name in the user's own folder of that kind (ピクチャ, ドキュメント), or in the
// home folder where there is none: not in the data folder, where the program runs.
QString InUserFolder(QStandardPaths::StandardLocation kind, const QString& name) {
    QString folder = QStandardPaths::writableLocation(kind);
    if (folder.isEmpty() || !QDir(folder).exists()) folder = QDir::homePath();
    return QDir(folder).filePath(name);
}

enum PresetItem { kThisWeek, kThisMonth, kLast30Days, kThisYear, kAll, kCustom };

}  // namespace

THistory::THistory(QWidget* parent) : QDialog(parent), clock_(qv::SystemNow) {
    setupUi(this);
    qv::ui::SetFormFont(this, 12);

    model_ = new HistoryModel(index_, this);
    sgHistory->setModel(model_);
    sgHistory->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    sgHistory->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    sgHistory->horizontalHeader()->setSortIndicator(static_cast<int>(Column::Time),
                                                    Qt::DescendingOrder);
    sgHistory->setColumnWidth(
        static_cast<int>(Column::Time),
        fontMetrics().horizontalAdvance(QStringLiteral("0000/00/00 00:00")) + 16);
    sgHistory->setColumnWidth(static_cast<int>(Column::Name), 180);
    sgHistory->setAccessibleName(QStringLiteral("判決の履歴"));
    tfSearch->setPlaceholderText(QStringLiteral("条文名の一部"));

    QWidget* pages[] = {tsPeriod, tsArticles, tsUnits, tsBalance};
    const char* names[] = {"chPeriod", "chArticles", "chUnits", "chBalance"};
    for (int i = 0; i < 4; ++i) {
        auto* layout = new QVBoxLayout(pages[i]);
        layout->setContentsMargins(0, 0, 0, 0);
        views_[static_cast<size_t>(i)] = new QChartView(pages[i]);
        views_[static_cast<size_t>(i)]->setObjectName(QString::fromLatin1(names[i]));
        views_[static_cast<size_t>(i)]->setRenderHint(QPainter::Antialiasing);
        views_[static_cast<size_t>(i)]->setFocusPolicy(Qt::NoFocus);
        views_[static_cast<size_t>(i)]->viewport()->setFocusPolicy(Qt::NoFocus);
        qv::ui::SetAccessibleRole(views_[static_cast<size_t>(i)], QAccessible::Chart);
        layout->addWidget(views_[static_cast<size_t>(i)]);
    }
    // The date fields take Tab to leave them, not to walk their year, month and day (the
    // arrows and typing do that); their inner line edits are reached through them only.
    for (QDateEdit* edit : {dtFrom, dtTo}) {
        qv::ui::AcceptFullWidthDigits(edit);
        edit->installEventFilter(this);
        for (QLineEdit* inner : edit->findChildren<QLineEdit*>())
            inner->setFocusPolicy(Qt::NoFocus);
        edit->setFocusPolicy(Qt::StrongFocus);
    }
    spBody->setStretchFactor(0, 3);
    spBody->setStretchFactor(1, 2);
    connect(spBody, &QSplitter::splitterMoved, this, [this] { bodySizedByUser_ = true; });
    // Placed inside its screen like every window, its size remembered per screen.
    qv::ui::MakeResizable(this, QStringLiteral("THistory"), minimumSizeHint());
    qv::ui::NameControls(this);

    connect(cbPreset, &QComboBox::currentIndexChanged, this, &THistory::PresetChanged);
    connect(dtFrom, &QDateEdit::dateChanged, this, &THistory::DateEdited);
    connect(dtTo, &QDateEdit::dateChanged, this, &THistory::DateEdited);
    connect(cbChart, &QComboBox::currentIndexChanged, stCharts, &QStackedWidget::setCurrentIndex);
    connect(cbChart, &QComboBox::currentIndexChanged, this,
            [this](int i) { DrawChart(static_cast<size_t>(std::clamp(i, 0, 3))); });
    connect(cbExecuted, &QComboBox::currentIndexChanged, this, &THistory::Refilter);
    connect(tfSearch, &QLineEdit::textChanged, this, &THistory::Refilter);
    connect(lsArticles, &QListWidget::itemChanged, this, &THistory::Refilter);
    connect(btSavePng, &QPushButton::clicked, this, &THistory::btSavePngClick);
    connect(btExportCsv, &QPushButton::clicked, this, &THistory::btExportCsvClick);
    connect(btExit, &QPushButton::clicked, this, &THistory::reject);
    // The view would copy its current cell alone; the whole selected rows are wanted.
    sgHistory->installEventFilter(this);
}

THistory::~THistory() = default;

void THistory::Init(CInfo* info) {
    info_ = info;
    const CRuleBook* book = info_ ? info_->GetRuleBook() : nullptr;
    // Implement names head the columns and the bars; each must be told apart.
    std::set<QString> seen;
    for (int k = 0; k < kImplementCount; ++k) {
        QString name = book ? qv::ui::ShownText(book->GetImpName(k)) : QString();
        if (name.isEmpty()) name = QStringLiteral("道具") + QString::number(k + 1);
        if (!seen.insert(name).second) name += QStringLiteral(" (") + QString::number(k + 1) + ')';
        implementNames_[static_cast<size_t>(k)] = name;
    }
    model_->SetImplementNames(implementNames_);
    Load();
}

void THistory::Load() {
    if (info_ == nullptr) return;
    ::tzset();  // dates follow the zone as it is now
    // The ledger is read on a second core while the log is indexed on this one: the two
    // files share nothing, and each takes about as long as the other. Where no thread can
    // be had it is read after the log, as before.
    std::future<BalanceHistory> ledger;
    try {
        ledger = std::async(std::launch::async, [info = info_] { return ReadBalanceHistory(*info); });
    } catch (const std::system_error&) {
    }
    // Indexed a block of the log at a time: the window never holds the log's bytes.
    if (index_.Read(info_->GetLogPath()) == qv::io::ReadStatus::Unreadable) {
        qv::ui::MessageBox::Show(qv::ui::LogUnreadableText(info_->GetLogPath()) +
                                     QStringLiteral("履歴は表示できません。"),
                                 this);
    }
    if (index_.issues.Any())
        qv::ui::MessageBox::Show(qv::ui::LogIssuesText(index_.issues, info_->GetLogPath()) +
                                     QStringLiteral("\n読めない行は履歴に含めていません。"),
                                 this);
    balance_ = std::make_shared<const BalanceHistory>(ledger.valid() ? ledger.get()
                                                                     : ReadBalanceHistory(*info_));
    charted_.reset();  // a new history: every chart is made again
    drawn_ = {};

    lsArticles->blockSignals(true);
    lsArticles->clear();
    for (const ArticleName& article : index_.ArticleNumbers()) {
        auto* item = new QListWidgetItem(QString::number(article.number) + QStringLiteral("条 ") +
                                         qv::ui::ShownText(article.name));
        item->setData(Qt::UserRole, article.number);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
        lsArticles->addItem(item);
    }
    lsArticles->blockSignals(false);
    if (lsArticles->count() > 0) lsArticles->setCurrentRow(0);

    cbPreset->blockSignals(true);
    cbPreset->setCurrentIndex(kAll);
    cbPreset->blockSignals(false);
    PresetChanged();
}

void THistory::PresetChanged() {
    const int preset = cbPreset->currentIndex();
    if (preset == kCustom) {
        DateEdited();
        return;
    }
    const Range range = PresetRange(static_cast<Preset>(preset), clock_());
    // The date fields show the range: for "すべて" the span of the sentences and of the
    // ledger's changes. A date typed there asks for a period of its own (DateEdited).
    const qv::Seconds now = clock_();
    const Range all = LedgerRange(
        index_.FirstTime() ? Range{index_.FirstTime(), *index_.LastTime() + 1} : Range{},
        Filter{}, *balance_);
    const qv::Seconds from = range.from.value_or(all.from.value_or(now));
    const qv::Seconds lastDay = range.to ? *range.to - 1 : all.to ? *all.to - 1 : now;
    settingDates_ = true;
    dtFrom->setDate(DateOf(from));
    dtTo->setDate(DateOf(lastDay));
    settingDates_ = false;
    filter_.from = range.from;
    filter_.to = range.to;
    Refilter();
}

void THistory::DateEdited() {
    if (settingDates_) return;
    if (cbPreset->currentIndex() != kCustom) {
        cbPreset->blockSignals(true);
        cbPreset->setCurrentIndex(kCustom);
        cbPreset->blockSignals(false);
    }
    filter_.from = StartOf(dtFrom->date());
    const std::optional<qv::Seconds> last = StartOf(dtTo->date());
    filter_.to = last ? std::optional<qv::Seconds>(AddLocalDays(*last, 1)) : std::nullopt;
    Refilter();
}

void THistory::Refilter() {
    filter_.articles.clear();
    for (int i = 0; i < lsArticles->count(); ++i) {
        const QListWidgetItem* item = lsArticles->item(i);
        if (item->checkState() == Qt::Checked)
            filter_.articles.push_back(item->data(Qt::UserRole).toInt());
    }
    static const Filter::Execution kExecution[] = {
        Filter::Execution::All, Filter::Execution::Executed, Filter::Execution::NotExecuted};
    filter_.execution = kExecution[std::clamp(cbExecuted->currentIndex(), 0, 2)];
    filter_.nameText = tfSearch->text().toStdString();

    model_->SetRows(Apply(index_, filter_));
    totals_ = Sum(index_, model_->GetRows());
    // Each figure with its name (they are parted by ideographic spaces), so a wrap never
    // parts them.
    QStringList pieces;
    for (const QString& part : TotalsText().split(u'　'))
        pieces << (pieces.isEmpty() ? part : QStringLiteral("　") + part);
    qv::ui::ShowPieces(pnTotals, pieces);
    RefreshCharts();
}

const Rows& THistory::ShownRows() const { return model_->GetRows(); }

QString THistory::TotalsText() const {
    // Concatenated, not formatted: implement names are the user's text.
    QString text = QStringLiteral("合計　判決 ") + QString::number(totals_.sentences) +
                   QStringLiteral("件（執行済み ") + QString::number(totals_.executed) +
                   QStringLiteral("件・未執行 ") + QString::number(totals_.notExecuted) +
                   QStringLiteral("件）　判決ポイント ") + QString::number(totals_.total);
    for (int k = 0; k < kImplementCount; ++k)
        text += QStringLiteral("　") + qv::ui::CountText(implementNames_[static_cast<size_t>(k)],
                                                        totals_.units[static_cast<size_t>(k)]);
    text += QStringLiteral("　ポイント ") + QString::number(totals_.points);
    return text;
}

void THistory::RefreshCharts() {
    const Rows& rows = model_->GetRows();
    const Range range = ChartRange(index_, rows, filter_);
    const BalanceHistory& balance = *balance_;
    ChartData data;
    if (range.from && range.to) {
        data.bucket = BucketFor(*range.from, *range.to);
        data.periods = PerPeriod(index_, rows, data.bucket, *range.from, *range.to);
    }
    data.articles = PerArticle(index_, rows);

    // The ledger's part: reports and balances are known only from where it starts, and
    // an open end reaches its last change, after the last sentence or not.
    const Range ledgerRange = LedgerRange(range, filter_, balance);
    QString ledgerNote;
    if (balance.Empty()) {
        ledgerNote = QStringLiteral("ポイントの台帳のデータはまだありません。");
    } else if (LedgerStartsLate(balance, ledgerRange.from)) {
        ledgerNote = QStringLiteral("台帳は ") +
                     QString::fromStdString(DateTimeText(*balance.Start())).left(10) +
                     QStringLiteral(" から記録されています。それより前は分かりません。");
    }
    const ChartData* was = charted_ ? &*charted_ : nullptr;
    // The ledger's figures follow the range alone: a filter of rows keeps them.
    const bool sameRange = was && was->balanceRange == ledgerRange;
    if (sameRange)
        data.reported = was->reported;
    else if (!balance.Empty())
        data.reported = ReportedUnits(balance, ledgerRange.from, ledgerRange.to);
    data.sentenced = totals_.units;
    data.unitsNote = balance.Empty()
                         ? ledgerNote + QStringLiteral("報告の回数は台帳ができてから表示されます。")
                         : ledgerNote;
    data.balanceRange = ledgerRange;
    data.balanceNote = ledgerNote;

    // What a screen reader says of each chart: what it shows, its latest figures, and
    // where the numbers themselves can be read.
    const QString where = QStringLiteral("数値は表「判決の履歴」で読めます（Ctrl+Cで表をコピー）。");
    QStringList said;
    if (!data.periods.empty()) {
        const Period& last = data.periods.back();
        said << QStringLiteral("期間の数%1。最後の期間 %2: 判決%3件、判決ポイント%4。")
                    .arg(data.periods.size())
                    .arg(PeriodLabel(last.start, data.bucket))
                    .arg(last.sentences)
                    .arg(last.total);
    }
    if (said.isEmpty()) said << QStringLiteral("判決はありません。");
    QStringList articles;
    for (const ArticleCount& a : data.articles) {
        if (articles.size() == 3) break;
        articles << QString::number(a.number) + QStringLiteral("条 ") +
                        qv::ui::ShownText(a.name) + QStringLiteral(" ") +
                        QString::number(a.sentences) + QStringLiteral("件");
    }
    said << (articles.isEmpty() ? QStringLiteral("判決はありません。")
                                : QStringLiteral("多い順に ") + articles.join(QStringLiteral("、")) +
                                      QStringLiteral("。"));
    QStringList units;
    for (size_t k = 0; k < kImplementCount; ++k) {
        QString unit = QStringLiteral("判決 ") + qv::ui::CountText(implementNames_[k], totals_.units[k]);
        if (data.reported)
            unit += QStringLiteral("・報告 ") + QString::number((*data.reported)[k]) +
                    qv::ui::UnitOf(implementNames_[k]);
        units << unit;
    }
    said << units.join(QStringLiteral("、")) + QStringLiteral("。") + ledgerNote;
    QString balanceSaid = ledgerNote;
    if (sameRange) {
        balanceSaid = was->balanceSaid;
    } else {
        for (size_t i = balance.events.size(); i-- > 0;) {
            const qv::Seconds time = balance.events.Time(i);
            if ((ledgerRange.from && time < *ledgerRange.from) ||
                (ledgerRange.to && time >= *ledgerRange.to))
                continue;
            balanceSaid = QStringLiteral("最後の残高 %1ポイント（%2）。")
                              .arg(balance.events.Balance(i))
                              .arg(QString::fromStdString(DateTimeText(time))) +
                          ledgerNote;
            break;
        }
    }
    data.balanceSaid = balanceSaid;
    said << (balanceSaid.isEmpty() ? QStringLiteral("この期間の台帳の記録はありません。") : balanceSaid);
    for (size_t i = 0; i < views_.size(); ++i) {
        views_[i]->setAccessibleName(QStringLiteral("グラフ: ") + cbChart->itemText(static_cast<int>(i)));
        views_[i]->setAccessibleDescription(said.value(static_cast<int>(i)) + where);
    }
    charted_ = std::move(data);
    // The chart shown takes the figures now, and every chart not drawn yet (the window
    // opening): a later switch to it then costs no more than a look.
    for (size_t i = 0; i < views_.size(); ++i)
        if (!drawn_[i] || static_cast<int>(i) == stCharts->currentIndex()) DrawChart(i);
}

void THistory::DrawChart(size_t i) {
    if (!charted_) return;
    const ChartData& data = *charted_;
    const ChartData* was = drawn_[i] ? &*drawn_[i] : nullptr;
    const auto show = [this](size_t i, QChart* chart) {
        QChart* old = views_[i]->chart();
        views_[i]->setChart(chart);
        delete old;
    };
    // A changed chart takes its new figures in place where it can: a new chart costs its
    // axes, labels and layout again.
    switch (i) {
        case 0:
            if ((!was || was->bucket != data.bucket || was->periods != data.periods) &&
                !UpdatePeriodChart(views_[0]->chart(), data.periods, data.bucket))
                show(0, MakePeriodChart(data.periods, data.bucket));
            break;
        case 1:
            if ((!was || was->articles != data.articles) &&
                !UpdateArticleChart(views_[1]->chart(), data.articles))
                show(1, MakeArticleChart(data.articles));
            break;
        case 2:
            if ((!was || was->sentenced != data.sentenced || was->reported != data.reported ||
                 was->unitsNote != data.unitsNote) &&
                !UpdateUnitsChart(views_[2]->chart(), data.sentenced, data.reported,
                                  implementNames_, data.unitsNote))
                show(2, MakeUnitsChart(data.sentenced, data.reported, implementNames_,
                                       data.unitsNote));
            break;
        default:
            if (!was || was->balanceRange != data.balanceRange ||
                was->balanceNote != data.balanceNote) {
                // The chart there takes the new range in place; a new one is thinned first
                // for the plot area of the chart it replaces, which it most likely gets too,
                // so the line is not thinned again once it is placed.
                int columns = views_[3]->viewport()->width();
                if (const QChart* old = views_[3]->chart(); old && old->plotArea().width() > 0)
                    columns = static_cast<int>(std::ceil(old->plotArea().width() *
                                                         views_[3]->devicePixelRatioF()));
                if (!UpdateBalanceChart(views_[3]->chart(), balance_, data.balanceRange,
                                        data.balanceNote, std::max(1, columns)))
                    show(3, MakeBalanceChart(balance_, data.balanceRange, data.balanceNote,
                                             std::max(1, columns)));
            }
            break;
    }
    drawn_[i] = data;
}

QString THistory::TableText() const {
    QModelIndexList selected = sgHistory->selectionModel()->selectedRows();
    std::vector<int> rows;
    for (const QModelIndex& index : selected) rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    if (rows.empty())
        for (int r = 0; r < model_->rowCount(); ++r) rows.push_back(r);
    QString text;
    for (int c = 0; c < kColumnCount; ++c)
        text += (c ? QStringLiteral("\t") : QString()) + model_->HeaderText(c);
    text += '\n';
    for (int r : rows) {
        for (int c = 0; c < kColumnCount; ++c) {
            if (c) text += '\t';
            // The full name, not the shortened one a cell shows.
            text += c == static_cast<int>(Column::Name)
                        ? qv::ui::FromCp932(
                              index_.Article(model_->GetRows()[static_cast<size_t>(r)]).name)
                        : model_->data(model_->index(r, c), Qt::DisplayRole).toString();
        }
        text += '\n';
    }
    return text;
}

void THistory::CopyTable() { QGuiApplication::clipboard()->setText(TableText()); }

bool THistory::RefusedOverFolderFile(const std::string& file) {
    const std::string own = FolderFileAt(file, info_ ? FolderOf(*info_) : DataFolder());
    if (own.empty()) return false;
    qv::ui::MessageBox::Show(qv::ui::OverFolderFileText(file, own), this);
    return true;
}

bool THistory::ExportCsvTo(const QString& path) {
    std::array<std::string, kImplementCount> names;
    const CRuleBook* book = info_ ? info_->GetRuleBook() : nullptr;
    for (int k = 0; k < kImplementCount; ++k) names[k] = book ? book->GetImpName(k) : std::string();
    const std::string file = path.toStdString();
    if (RefusedOverFolderFile(file)) return false;
    qv::io::IoError error;
    if (ExportCsv(file, index_, model_->GetRows(), names,
                  ckUtf8->isChecked() ? CsvEncoding::Utf8Bom : CsvEncoding::Cp932, &error))
        return true;
    qv::ui::MessageBox::Warn(qv::ui::ExportFailureText(file, error), this);
    return false;
}

bool THistory::SaveChartTo(const QString& path) {
    QChartView* view = views_[static_cast<size_t>(std::clamp(cbChart->currentIndex(), 0, 3))];
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    view->grab().save(&buffer, "PNG");
    const std::string file = path.toStdString();
    if (RefusedOverFolderFile(file)) return false;
    qv::io::IoError error;  // stays empty when no image could be made
    if (!png.isEmpty() &&
        qv::io::WriteFileAtomic(file, std::string_view(png.constData(), png.size()), &error))
        return true;
    qv::ui::MessageBox::Warn(qv::ui::ChartSaveFailureText(file, error), this);
    return false;
}

void THistory::btSavePngClick() {
    static const char* kNames[] = {"period", "articles", "units", "balance"};
    const QString suggested = InUserFolder(
        QStandardPaths::PicturesLocation,
        QStringLiteral("quorvel-") + QLatin1String(kNames[std::clamp(cbChart->currentIndex(), 0, 3)]) +
            QStringLiteral(".png"));
    const QString caption = QStringLiteral("グラフをPNGで保存");
    const QString filterText = QStringLiteral("PNG画像 (*.png)");
    const QString path = askSavePath_
                             ? askSavePath_(caption, suggested, filterText)
                             : QFileDialog::getSaveFileName(this, caption, suggested, filterText);
    if (!path.isEmpty()) SaveChartTo(path);
}

void THistory::btExportCsvClick() {
    const QString caption = QStringLiteral("CSVに書き出す");
    const QString suggested =
        InUserFolder(QStandardPaths::DocumentsLocation, QStringLiteral("判決の履歴.csv"));
    const QString filterText = QStringLiteral("CSVファイル (*.csv)");
    const QString path = askSavePath_
                             ? askSavePath_(caption, suggested, filterText)
                             : QFileDialog::getSaveFileName(this, caption, suggested, filterText);
    // Said where it went: the dialog closing alone tells nothing.
    if (!path.isEmpty() && ExportCsvTo(path))
        qv::ui::MessageBox::Show(QStringLiteral("履歴をCSVファイル「%1」に書き出しました。")
                                     .arg(QDir::toNativeSeparators(path)),
                                 this);
}

bool THistory::eventFilter(QObject* watched, QEvent* event) {
    if (watched == sgHistory &&
        (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride) &&
        static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) {
        if (event->type() == QEvent::KeyPress) CopyTable();
        event->accept();
        return true;
    }
    if (event->type() == QEvent::KeyPress && (watched == dtFrom || watched == dtTo)) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Tab && !(key->modifiers() & Qt::ShiftModifier)) {
            focusNextChild();
            return true;
        }
        if (key->key() == Qt::Key_Backtab ||
            (key->key() == Qt::Key_Tab && (key->modifiers() & Qt::ShiftModifier))) {
            focusPreviousChild();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void THistory::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    // After the splitter has shared out the new height.
    QTimer::singleShot(0, this, &THistory::GiveTableItsRows);
}

// The splitter shares its height by the parts' size hints, which leave the table a few rows
// when the window is short (a high scale on a small screen): the charts then give up height,
// down to their minimum, until the table shows kTableRows. A split the user dragged stays.
void THistory::GiveTableItsRows() {
    QList<int> sizes = spBody->sizes();
    if (bodySizedByUser_ || sizes.size() != 2) return;
    const int wanted = kTableRows * sgHistory->verticalHeader()->defaultSectionSize();
    const int lacking = wanted - sgHistory->viewport()->height();
    const int spare = sizes[1] - wdCharts->minimumSizeHint().height();
    const int moved = std::min(lacking, spare);
    if (moved <= 0) return;
    sizes[0] += moved;
    sizes[1] -= moved;
    spBody->setSizes(sizes);
}

void THistory::keyPressEvent(QKeyEvent* event) {
    // Enter in a filter field would press a button the user never chose; filters apply
    // as they change, so it has nothing to do there.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        qobject_cast<QPushButton*>(focusWidget()) == nullptr) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

