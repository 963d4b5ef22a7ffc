#pragma once
// The version window: what the program is, its version, its maker and the notice on rights.
// Created once at start-up and shown again and again, so what the user typed stays.

#include "formlook.h"

#include <QDialog>
#include <QList>

class QFrame;
class QLabel;
class QPlainTextEdit;
class QPushButton;

class VersionWindow final : public QDialog {
    Q_OBJECT
public:
    explicit VersionWindow(QWidget* parent = nullptr);

    // Every control the window builds: its design name, where it sits in its parent (an empty
    // rectangle for a label placed on a panel) and its caption; the window is built from this table.
    static QList<formlook::ControlSpec> layout();

    // Controls, named as the window's design names them; tests find them by that name.
private:
    QLabel* m_picture = nullptr;  // the knight picture, at its own size from the top-left corner
    QFrame* m_titlePanel = nullptr;
    QFrame* m_versionPanel = nullptr;
    QFrame* m_makerPanel = nullptr;
    QLabel* m_titleLabel = nullptr;          // 名刺管理
    QLabel* m_productLabel = nullptr;        // product name
    QLabel* m_versionLabel = nullptr;        // version
    QLabel* m_makerLabel = nullptr;          // maker
    QPlainTextEdit* m_noticeEdit = nullptr;  // notice on rights and liability; editable, never saved
    QPushButton* m_closeButton = nullptr;    // 閉じる

public:
    void onCloseClicked();  // closes the window

    // The notice the memo starts with.
    static QString notice();

protected:
    void showEvent(QShowEvent* event) override;

private:
    struct Layout;
};
