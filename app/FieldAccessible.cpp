#include "FieldAccessible.h"

#include "SpokenText.h"

#include <QAccessibleWidget>
#include <QCoreApplication>
#include <QFocusEvent>
#include <QLineEdit>

namespace {

class FieldAccessible : public QAccessibleWidget,
                        public QAccessibleTextInterface,
                        public QAccessibleEditableTextInterface
{
public:
    explicit FieldAccessible(QLineEdit *edit) : QAccessibleWidget(edit, QAccessible::EditableText)
    {
    }

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface *>(this);
        if (type == QAccessible::EditableTextInterface)
            return static_cast<QAccessibleEditableTextInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    [[nodiscard]] QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.readOnly = edit()->isReadOnly();
        state.editable = !edit()->isReadOnly();
        state.passwordEdit = edit()->echoMode() != QLineEdit::Normal;
        state.selectableText = true;
        return state;
    }

    [[nodiscard]] QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value)
            return shown();
        const QString text = QAccessibleWidget::text(t);
        if (t == QAccessible::Description && text.isEmpty() && shown().isEmpty())
            return SpokenText(Spoken::Empty);
        return text;
    }

    void setText(QAccessible::Text t, const QString &text) override
    {
        if (t != QAccessible::Value)
            QAccessibleWidget::setText(t, text);
        else if (!edit()->isReadOnly())
            edit()->setText(text);
    }

    // QAccessibleTextInterface
    void selection(int selectionIndex, int *startOffset, int *endOffset) const override
    {
        *startOffset = *endOffset = 0;
        if (selectionIndex == 0 && edit()->hasSelectedText()) {
            *startOffset = edit()->selectionStart();
            *endOffset = edit()->selectionEnd();
        }
    }
    [[nodiscard]] int selectionCount() const override { return edit()->hasSelectedText() ? 1 : 0; }
    void addSelection(int startOffset, int endOffset) override
    {
        setSelection(0, startOffset, endOffset);
    }
    void removeSelection(int selectionIndex) override
    {
        if (selectionIndex == 0)
            edit()->deselect();
    }
    void setSelection(int selectionIndex, int startOffset, int endOffset) override
    {
        if (selectionIndex == 0)
            edit()->setSelection(startOffset, endOffset - startOffset);
    }
    [[nodiscard]] int cursorPosition() const override { return edit()->cursorPosition(); }
    void setCursorPosition(int position) override { edit()->setCursorPosition(position); }
    [[nodiscard]] QString text(int startOffset, int endOffset) const override
    {
        if (startOffset > endOffset)
            return {};
        return shown().mid(startOffset, endOffset - startOffset);
    }
    [[nodiscard]] int characterCount() const override { return int(shown().size()); }

    // Measured from the cursor, which the line edit places with its own scrolling and margins.
    [[nodiscard]] QRect characterRect(int offset) const override
    {
        const QString text = shown();
        if (offset < 0 || offset > text.size())
            return {};
        const QFontMetrics metrics = edit()->fontMetrics();
        const QRect cursor = edit()->inputMethodQuery(Qt::ImCursorRectangle).toRect();
        const int x = cursor.x() + metrics.horizontalAdvance(text.left(offset)) -
                      metrics.horizontalAdvance(text.left(edit()->cursorPosition()));
        const int width = offset < text.size() ? metrics.horizontalAdvance(text.at(offset)) : 1;
        return {edit()->mapToGlobal(QPoint(x, cursor.y())), QSize(width, cursor.height())};
    }
    [[nodiscard]] int offsetAtPoint(const QPoint &point) const override
    {
        const QPoint local = edit()->mapFromGlobal(point);
        return edit()->rect().contains(local) ? edit()->cursorPositionAt(local) : -1;
    }
    void scrollToSubstring(int startIndex, int endIndex) override
    {
        edit()->setCursorPosition(endIndex);
        edit()->setCursorPosition(startIndex);
    }
    // A line edit has one look for all its text: one run from the first character to the last.
    [[nodiscard]] QString attributes(int, int *startOffset, int *endOffset) const override
    {
        *startOffset = 0;
        *endOffset = characterCount();
        return {};
    }

    // QAccessibleEditableTextInterface
    void deleteText(int startOffset, int endOffset) override
    {
        replaceText(startOffset, endOffset, {});
    }
    void insertText(int offset, const QString &text) override { replaceText(offset, offset, text); }
    void replaceText(int startOffset, int endOffset, const QString &text) override
    {
        if (!edit()->isReadOnly())
            edit()->setText(edit()->text().replace(startOffset, endOffset - startOffset, text));
    }

private:
    [[nodiscard]] QLineEdit *edit() const { return static_cast<QLineEdit *>(widget()); }
    // What the field shows: the text itself, or the mask characters of a password field.
    [[nodiscard]] QString shown() const { return edit()->displayText(); }
};

class EmptyFieldFocus : public QObject
{
public:
    explicit EmptyFieldFocus(QLineEdit *edit) : QObject(edit), m_edit(edit)
    {
        edit->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched != m_edit || event->type() != QEvent::FocusIn || !m_edit->text().isEmpty())
            return false;
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        if (reason != Qt::TabFocusReason && reason != Qt::BacktabFocusReason)
            return false;
        QFocusEvent plain(QEvent::FocusIn, Qt::OtherFocusReason);
        QCoreApplication::sendEvent(m_edit, &plain);
        return true;
    }

private:
    QLineEdit *m_edit;
};

QAccessibleInterface *fieldAccessible(const QString &className, QObject *object)
{
    if (className == QLatin1String("QLineEdit") && object && object->isWidgetType())
        return new FieldAccessible(static_cast<QLineEdit *>(object));
    return nullptr;
}

} // namespace

void InstallFieldAccessible()
{
    static const bool installed = [] {
        QAccessible::installFactory(fieldAccessible);
        return true;
    }();
    Q_UNUSED(installed);
}

void ReadEmptyFieldOnFocus(QLineEdit *edit)
{
    new EmptyFieldFocus(edit);
}
