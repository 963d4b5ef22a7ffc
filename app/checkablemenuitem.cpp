#include "checkablemenuitem.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QAction>
#include <QMenu>
#include <QPointer>

namespace {

class CheckableMenuItem final : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    CheckableMenuItem(QAction* action, QMenu* menu) : m_action(action), m_menu(menu) {}

    bool isValid() const override { return m_action && m_menu; }
    QObject* object() const override { return m_action; }
    QWindow* window() const override { return m_menu ? m_menu->windowHandle() : nullptr; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(m_menu); }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }

    QString text(QAccessible::Text t) const override {
        if (!m_action)
            return {};
        switch (t) {
            case QAccessible::Name: {
                // A single & marks the mnemonic and is not read; && stands for one &.
                QString name = m_action->text();
                name.replace(QLatin1String("&&"), QString(QChar(0x1)));
                name.remove(QLatin1Char('&'));
                name.replace(QChar(0x1), QLatin1Char('&'));
                return name;
            }
            case QAccessible::Accelerator:
                return m_action->shortcut().toString(QKeySequence::NativeText);
            case QAccessible::Description:
                return m_action->toolTip() == m_action->text() ? QString() : m_action->toolTip();
            default:
                return {};
        }
    }
    void setText(QAccessible::Text, const QString&) override {}

    QRect rect() const override {
        if (!m_menu || !m_action)
            return {};
        const QRect inMenu = m_menu->actionGeometry(m_action);
        return {m_menu->mapToGlobal(inMenu.topLeft()), inMenu.size()};
    }
    // A menu item still, so that the menu finds it among its children.
    QAccessible::Role role() const override { return QAccessible::MenuItem; }
    QAccessible::State state() const override {
        QAccessible::State s;
        if (!m_action || !m_menu)
            return s;
        s.checkable = true;
        s.checked = m_action->isChecked();
        s.disabled = !m_action->isEnabled();
        s.invisible = !m_action->isVisible() || !m_menu->isVisible();
        s.focusable = true;
        s.focused = m_menu->activeAction() == m_action;
        return s;
    }

    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this)
                                                    : nullptr;
    }
    QStringList actionNames() const override {
        return {QAccessibleActionInterface::toggleAction(), QAccessibleActionInterface::pressAction()};
    }
    void doAction(const QString& name) override {
        if (m_action && m_action->isEnabled() && actionNames().contains(name))
            m_action->trigger();
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    QPointer<QAction> m_action;
    QPointer<QMenu> m_menu;
};

QAccessibleInterface* checkableMenuItem(const QString&, QObject* object) {
    auto* action = qobject_cast<QAction*>(object);
    if (!action || !action->isCheckable())
        return nullptr;
    for (QObject* shownIn : action->associatedObjects()) {
        if (auto* menu = qobject_cast<QMenu*>(shownIn))
            return new CheckableMenuItem(action, menu);
    }
    return nullptr;
}

}  // namespace

void installCheckableMenuItemAccess() {
    static const bool installed = [] {
        QAccessible::installFactory(checkableMenuItem);
        return true;
    }();
    Q_UNUSED(installed);
}
