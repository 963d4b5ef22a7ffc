#pragma once
// The version window: what the program is, its version, its maker and the notice on rights.
// Created once at start-up and shown again and again, so what the user typed stays.

#include <QDialog>

class QFrame;
class QLabel;
class QPlainTextEdit;
class QPushButton;

class Tvarsion final : public QDialog {
    Q_OBJECT
public:
    explicit Tvarsion(QWidget* parent = nullptr);

    // Controls, named as the window's design names them; tests find them by that name.
private:
    QLabel* Image1 = nullptr;  // the knight picture, at its own size from the top-left corner
    QFrame* Panel1 = nullptr;
    QFrame* Panel2 = nullptr;
    QFrame* Panel3 = nullptr;
    QLabel* Label1 = nullptr;         // 名刺管理
    QLabel* Label4 = nullptr;         // product name
    QLabel* Label2 = nullptr;         // version
    QLabel* Label3 = nullptr;         // maker
    QPlainTextEdit* Memo1 = nullptr;  // notice on rights and liability; editable, never saved
    QPushButton* Button1 = nullptr;   // 閉じる

public:
    void Button1Click();  // closes the window

    // The notice the memo starts with.
    static QString notice();

protected:
    void showEvent(QShowEvent* event) override;
};

extern Tvarsion* varsion;
