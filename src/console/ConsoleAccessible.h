#pragma once

#include <QAccessibleWidget>

class ConsoleView;

// What assistive technology and scripted tests read from the console: a read-only, multi-line
// text whose value is all lines joined by "\n" and whose description gives the line count, with
// the console's selection as its one text selection.
// Created by the accessibility factory that ConsoleView installs; Qt's accessibility cache owns
// each instance.
class ConsoleAccessible : public QAccessibleWidget, public QAccessibleTextInterface
{
public:
    explicit ConsoleAccessible(ConsoleView *view);

    // Idempotent; ConsoleView calls it on construction.
    static void installFactory();

    QAccessible::State state() const override;
    QString text(QAccessible::Text t) const override;
    void *interface_cast(QAccessible::InterfaceType t) override;

    // The console's one selection, in offsets of the value (lines joined by "\n").
    void selection(int selectionIndex, int *startOffset, int *endOffset) const override;
    int selectionCount() const override;
    void addSelection(int startOffset, int endOffset) override;
    void removeSelection(int selectionIndex) override;
    void setSelection(int selectionIndex, int startOffset, int endOffset) override;
    // The end of the selection that moves; 0 without one. Setting it clears the selection.
    int cursorPosition() const override;
    void setCursorPosition(int position) override;
    QString text(int startOffset, int endOffset) const override;
    int characterCount() const override;
    QRect characterRect(int offset) const override;
    int offsetAtPoint(const QPoint &point) const override;
    void scrollToSubstring(int startIndex, int endIndex) override;
    QString attributes(int offset, int *startOffset, int *endOffset) const override;

private:
    ConsoleView *view() const;
    QString allText() const;
    // The row and column of a character offset into allText(); false when out of range.
    bool locate(int offset, int *row, int *column) const;
};
