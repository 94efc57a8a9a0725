#include "window/accessible.h"

#include <QAccessibleWidget>
#include <QLabel>

#include "catalogue/catalogue.h"

namespace zavoket {
namespace {

// The window as a frame. Its children are the controls not hidden, in the order they were made.
class FormView final : public QAccessibleWidget {
  public:
    explicit FormView(QWidget* form) : QAccessibleWidget(form, QAccessible::Window) {}

    int childCount() const override { return static_cast<int>(shown().size()); }
    QAccessibleInterface* child(int index) const override {
        const auto children = shown();
        return index >= 0 && index < children.size()
                   ? QAccessible::queryAccessibleInterface(children[index])
                   : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        return child ? static_cast<int>(shown().indexOf(child->object())) : -1;
    }

  private:
    QList<QObject*> shown() const {
        QList<QObject*> children;
        for (auto* child : widget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (!child->isHidden() && !child->isWindow()) {
                children.append(child);
            }
        }
        return children;
    }
};

// N of "N/194".
int progressOf(const QLabel* label) {
    return label->text().section('/', 0, 0).toInt();
}

// "N/194" as a progress bar: its value N of 194, its text as shown.
class ProgressView final : public QAccessibleWidget, public QAccessibleValueInterface {
  public:
    explicit ProgressView(QWidget* label) : QAccessibleWidget(label, QAccessible::ProgressBar) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::ValueInterface ? static_cast<QAccessibleValueInterface*>(this)
                                                   : QAccessibleWidget::interface_cast(type);
    }
    QString text(QAccessible::Text text) const override {
        return text == QAccessible::Value ? caption() : QAccessibleWidget::text(text);
    }
    QVariant currentValue() const override {
        return progressOf(static_cast<const QLabel*>(widget()));
    }
    void setCurrentValue(const QVariant&) override {}  // shown, not set
    QVariant maximumValue() const override { return static_cast<int>(Catalogue::kSize); }
    QVariant minimumValue() const override { return 0; }
    QVariant minimumStepSize() const override { return 1; }

  private:
    QString caption() const { return static_cast<const QLabel*>(widget())->text(); }
};

QAccessibleInterface* viewFor(const QString& className, QObject* object) {
    auto* widget = qobject_cast<QWidget*>(object);
    if (widget == nullptr) {
        return nullptr;
    }
    if (className == "zavoket::MainForm") {
        return new FormView(widget);
    }
    const QVariant role = widget->property("accessibleRole");
    if (qobject_cast<QLabel*>(widget) && role == "progress") {
        return new ProgressView(widget);
    }
    if (qobject_cast<QLabel*>(widget) && role == "notification") {
        return new QAccessibleWidget(widget, QAccessible::Notification);
    }
    return nullptr;
}

void tellAs(QLabel* label, const char* role) {
    label->setProperty("accessibleRole", role);
    // Qt made the label's view when it was given its first text: made again, through ours.
    QAccessible::deleteAccessibleInterface(
        QAccessible::uniqueId(QAccessible::queryAccessibleInterface(label)));
}

}  // namespace

void installAccessibleViews() {
    static const bool installed = (QAccessible::installFactory(viewFor), true);
    (void)installed;
}

void tellAsProgress(QLabel* label) {
    tellAs(label, "progress");
}

void tellAsNotification(QLabel* label) {
    tellAs(label, "notification");
}

void progressChanged(QLabel* label) {
    QAccessibleValueChangeEvent event(label, progressOf(label));
    QAccessible::updateAccessibility(&event);
}

}  // namespace zavoket
