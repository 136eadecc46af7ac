#pragma once

#include <QDialog>
#include <vector>

#include "records/Backups.h"
#include "rulebook/Info.h"

class QPushButton;
class QTableWidget;

// The backups window (バックアップ): every kept version of the data files with its time,
// size and number of records; one is put back after a question, the version it
// replaces kept first.
class TBackups : public QDialog {
    Q_OBJECT

public:
    explicit TBackups(QWidget* parent = nullptr);

    void Init(CInfo* info);
    void LoadList();

private:
    void btRestoreClick();
    // The data file a version belongs to, as the context names it.
    std::string TargetOf(const Backups::Version& version) const;

    CInfo* info_ = nullptr;
    std::vector<Backups::Version> versions_;
    QTableWidget* sgBackups = nullptr;
    QPushButton* btRestore = nullptr;
    QPushButton* btExit = nullptr;
};

void OpenBackups(QWidget* parent, CInfo* info);
