#include "checkablemenuitem.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QAccessibleWidget>
#include <QAction>
#include <QMenu>
#include <QPointer>

#include <algorithm>

namespace {

bool holdsCheckableAction(const QMenu* menu) {
    const QList<QAction*> actions = menu->actions();
    return std::any_of(actions.begin(), actions.end(), [](const QAction* a) { return a->isCheckable(); });
}

QMenu* menuShowing(const QAction* action) {
    for (QObject* shownIn : action->associatedObjects()) {
        if (auto* menu = qobject_cast<QMenu*>(shownIn); menu && holdsCheckableAction(menu))
            return menu;
    }
    return nullptr;
}

QString withoutMnemonic(QString text) {
    // A single & marks the mnemonic and is not read; && stands for one &.
    text.replace(QLatin1String("&&"), QString(QChar(0x1)));
    text.remove(QLatin1Char('&'));
    text.replace(QChar(0x1), QLatin1Char('&'));
    return text;
}

class MenuItem final : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    MenuItem(QAction* action, QMenu* menu) : m_action(action), m_menu(menu) {}

    bool isValid() const override { return m_action && m_menu; }
    QObject* object() const override { return m_action; }
    QWindow* window() const override { return m_menu ? m_menu->windowHandle() : nullptr; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(m_menu); }
    // A submenu is the item's one child.
    QAccessibleInterface* child(int index) const override {
        return index == 0 && m_action && m_action->menu()
                   ? QAccessible::queryAccessibleInterface(m_action->menu())
                   : nullptr;
    }
    int childCount() const override { return m_action && m_action->menu() ? 1 : 0; }
    int indexOfChild(const QAccessibleInterface* child) const override {
        return child && m_action && child->object() == m_action->menu() ? 0 : -1;
    }

    QString text(QAccessible::Text t) const override {
        if (!m_action)
            return {};
        switch (t) {
            case QAccessible::Name:
                return withoutMnemonic(m_action->text());
            case QAccessible::Accelerator:
                return m_action->shortcut().toString(QKeySequence::NativeText);
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
    QAccessible::Role role() const override {
        if (!m_action || m_action->isSeparator())
            return QAccessible::Separator;
        return m_action->isCheckable() ? QAccessible::CheckBox : QAccessible::MenuItem;
    }
    QAccessible::State state() const override {
        QAccessible::State s;
        if (!m_action || !m_menu)
            return s;
        s.checkable = m_action->isCheckable();
        s.checked = m_action->isChecked();
        s.disabled = !m_action->isEnabled() || m_action->isSeparator();
        s.invisible = !m_action->isVisible() || !m_menu->isVisible();
        s.focusable = !m_action->isSeparator();
        s.focused = m_menu->activeAction() == m_action;
        s.hasPopup = m_action->menu() != nullptr;
        return s;
    }

    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this)
                                                    : nullptr;
    }
    QStringList actionNames() const override {
        if (!m_action || m_action->isSeparator())
            return {};
        if (m_action->isCheckable())
            return {toggleAction(), pressAction()};
        return {pressAction()};
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

// The menu itself as Qt describes a widget, with its items as children in the menu's order.
class Menu final : public QAccessibleWidget {
public:
    explicit Menu(QMenu* menu) : QAccessibleWidget(menu, QAccessible::PopupMenu) {}

    int childCount() const override { return int(menu()->actions().size()); }
    QAccessibleInterface* child(int index) const override {
        const QList<QAction*> actions = menu()->actions();
        return index >= 0 && index < actions.size() ? QAccessible::queryAccessibleInterface(actions[index])
                                                    : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        return child ? int(menu()->actions().indexOf(qobject_cast<QAction*>(child->object()))) : -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        const QPoint inMenu = menu()->mapFromGlobal(QPoint(x, y));
        QAction* action = menu()->actionAt(inMenu);
        return action ? QAccessible::queryAccessibleInterface(action) : nullptr;
    }
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name && menu()->accessibleName().isEmpty())
            return withoutMnemonic(menu()->title());
        return QAccessibleWidget::text(t);
    }

private:
    QMenu* menu() const { return static_cast<QMenu*>(widget()); }
};

QAccessibleInterface* describeCheckableMenus(const QString&, QObject* object) {
    if (auto* menu = qobject_cast<QMenu*>(object))
        return holdsCheckableAction(menu) ? new Menu(menu) : nullptr;
    if (auto* action = qobject_cast<QAction*>(object)) {
        if (QMenu* menu = menuShowing(action))
            return new MenuItem(action, menu);
    }
    return nullptr;
}

}  // namespace

void installCheckableMenuItemAccess() {
    static const bool installed = [] {
        QAccessible::installFactory(describeCheckableMenus);
        return true;
    }();
    Q_UNUSED(installed);
}
