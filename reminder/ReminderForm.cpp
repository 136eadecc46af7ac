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
    switch (InstalledWay(files_)) {
        case ReminderWay::Timer:
            pnState->setText(QStringLiteral("いまは systemd のタイマーで毎日確認しています（") +
                             Shown(files_.Timer()) + QStringLiteral("）。"));
            break;
        case ReminderWay::Autostart:
            pnState->setText(QStringLiteral("いまはログインのたびに確認しています（") +
                             Shown(files_.Autostart()) + QStringLiteral("）。"));
            break;
        case ReminderWay::None:
            pnState->setText(QStringLiteral("リマインダーはいまオフです（確認も通知もしません）。"));
            break;
    }
    ShowEnabled();
}

void TReminder::ShowEnabled() {
    gbWhen->setEnabled(ckOn->isChecked());
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
    accept();
}
