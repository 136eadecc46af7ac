#include "reminder/ReminderForm.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <ctime>

#include "execution/Overdue.h"
#include "ui/Accessibility.h"
#include "ui/FileTexts.h"
#include "ui/MessageBox.h"
#include "ui/Placement.h"
#include "ui/Texts.h"

namespace {
QString Shown(const QString& path) { return QDir::toNativeSeparators(path); }
QString Shown(const QByteArray& path) { return Shown(QFile::decodeName(path)); }

const QString kDaily = QStringLiteral("毎日確認して、知らせることがあればデスクトップに通知する");
const QString kAtLogin =
    QStringLiteral("ログインのたびに確認して、知らせることがあればデスクトップに通知する");
const QString kNoTimer = QStringLiteral(
    "このコンピュータでは systemd のユーザーインスタンスが動いていないため、"
    "毎日決まった時刻には確認できません。ログインのたびに確認します（時刻は使いません）。");

QString WhenText(ReminderWay way, QTime time) {
    return way == ReminderWay::Timer
               ? QStringLiteral("毎日 %1 に確認").arg(time.toString(QStringLiteral("HH:mm")))
               : QStringLiteral("ログインのたびに確認");
}

// The first line of the window: on or off, and how it runs now.
QString StateText(ReminderWay installed, const ReminderSettings& saved, const ReminderFiles& files) {
    switch (installed) {
        case ReminderWay::Timer:
            return QStringLiteral("リマインダーはオンです。") + WhenText(installed, saved.time) +
                   QStringLiteral("します（systemd のタイマー: ") + Shown(files.Timer()) +
                   QStringLiteral("）。");
        case ReminderWay::Autostart:
            return QStringLiteral("リマインダーはオンです。") + WhenText(installed, saved.time) +
                   QStringLiteral("します（自動起動の設定: ") + Shown(files.Autostart()) +
                   QStringLiteral("）。");
        case ReminderWay::None:
            break;
    }
    return QStringLiteral("リマインダーはオフです。確認も通知もしません。");
}

// What OK turned on, with the conditions that make it tell.
QString TurnedOnText(ReminderWay way, const ReminderSettings& s) {
    QString when = QStringLiteral("未執行のまま%1日を過ぎた判決があるとき").arg(s.days);
    if (s.balanceOn)
        when += QStringLiteral("、またはポイント残高が%1ポイントを超えたとき").arg(s.balanceAbove);
    QString text = QStringLiteral("リマインダーをオンにしました。") + WhenText(way, s.time) +
                   QStringLiteral("し、") + when + QStringLiteral("にデスクトップに通知します。");
    if (way == ReminderWay::Autostart)
        text += QStringLiteral("\n（systemd のユーザーインスタンスが動いていないため、時刻は使いません）");
    return text;
}
}  // namespace

TReminder::TReminder(QWidget* parent) : QDialog(parent) {
    setupUi(this);
    qv::ui::SetFormFont(this, 12);
    qv::ui::Place(this);
    seBalance->setAccessibleName(QStringLiteral("知らせるポイント残高"));
    seDays->setAccessibleName(QStringLiteral("未執行のまま過ぎる日数"));
    for (QAbstractSpinBox* box : std::initializer_list<QAbstractSpinBox*>{seDays, seBalance, teTime})
        qv::ui::AcceptFullWidthDigits(box);
    connect(ckOn, &QCheckBox::toggled, this, &TReminder::ShowEnabled);
    connect(ckBalance, &QCheckBox::toggled, this, &TReminder::ShowEnabled);
    connect(btOK, &QPushButton::clicked, this, &TReminder::btOKClick);
    connect(btCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(btCheckNow, &QPushButton::clicked, this, &TReminder::btCheckNowClick);
}

void TReminder::Init(const QByteArray& folder, const ReminderFiles& files) {
    folder_ = folder;
    files_ = files;
    saved_ = ReminderSettings::Load();
    ckOn->setChecked(saved_.on);
    teTime->setTime(saved_.time);
    seDays->setValue(saved_.days);
    ckBalance->setChecked(saved_.balanceOn);
    seBalance->setValue(static_cast<int>(saved_.balanceAbove));

    QString where = QStringLiteral("確認するデータフォルダ: ") + Shown(folder_);
    if (saved_.on && !saved_.folder.isEmpty() && saved_.folder != folder_)
        where += QStringLiteral("\n（いまのリマインダーは別のフォルダ「") + Shown(saved_.folder) +
                 QStringLiteral("」を確認しています。OKでこのフォルダに切り替わります）");
    pnFolder->setText(where);
    pnState->setText(StateText(InstalledWay(files_), saved_, files_));
    way_ = AvailableWay();
    ShowWay();
    ShowEnabled();
}

void TReminder::ShowWay() {
    const bool timer = way_ == ReminderWay::Timer;
    ckOn->setText(timer ? kDaily : kAtLogin);
    pnWay->setText(timer ? QStringLiteral("このコンピュータでは、毎日この時刻に確認します。その時刻に"
                                          "電源が切れていたときは、次に起動したときに確認します。")
                         : kNoTimer);
    qv::ui::SetPlainTip(teTime, timer ? QString() : kNoTimer);
    qv::ui::SetPlainTip(lbTime, timer ? QString() : kNoTimer);
    ShowEnabled();
}

void TReminder::ShowEnabled() {
    gbWhen->setEnabled(ckOn->isChecked());
    const bool timer = way_ == ReminderWay::Timer;
    lbTime->setEnabled(timer);
    teTime->setEnabled(timer);
    seBalance->setEnabled(ckBalance->isChecked());
}

ReminderSettings TReminder::FromControls() const {
    ReminderSettings s = saved_;
    s.on = ckOn->isChecked();
    s.time = teTime->time();
    s.days = seDays->value();
    s.balanceOn = ckBalance->isChecked();
    s.balanceAbove = seBalance->value();
    if (s.on) s.folder = folder_;
    return s;
}

void TReminder::btCheckNowClick() {
    const ReminderSettings s = FromControls();
    const std::string log = folder_.toStdString() + "/test.log";
    const std::string balance = folder_.toStdString() + "/user.dat";
    const OverdueCheck check =
        CheckOverdue(log, balance, static_cast<std::int64_t>(std::time(nullptr)), s.Rule());
    if (!check.ok) {
        qv::ui::MessageBox::Show(
            check.error.path == balance
                ? qv::ui::BalanceProblemText(PointBalance::Status::Unreadable, balance, check.error)
                : qv::ui::LogUnreadableText(log, check.error),
            this);
        return;
    }
    qv::ui::MessageBox::Show(QString::fromUtf8(OverdueText(check.summary, s.Rule())), this);
}

void TReminder::btOKClick() {
    const ReminderSettings s = FromControls();
    if (!s.Save()) {
        qv::ui::MessageBox::Show(QStringLiteral("リマインダーの設定を保存できませんでした（") +
                                     Shown(QSettings().fileName()) + QStringLiteral("）。"),
                                 this);
        return;
    }
    const bool wasOn = InstalledWay(files_) != ReminderWay::None;
    ReminderOutcome outcome;
    if (s.on)
        outcome = TurnReminderOn(s, ProgramPath(), files_);
    else
        outcome = TurnReminderOff(files_);
    if (!outcome.ok) {
        qv::ui::MessageBox::Show(
            (s.on ? QStringLiteral("リマインダーを入れられませんでした。\n")
                  : QStringLiteral("リマインダーを切れませんでした。\n")) +
                outcome.problem,
            this);
        return;
    }
    if (s.on)
        qv::ui::MessageBox::Show(TurnedOnText(outcome.way, s), this);
    else if (wasOn)
        qv::ui::MessageBox::Show(QStringLiteral("リマインダーをオフにしました。確認も通知もしません。"),
                                 this);
    accept();
}
