#pragma once

#include <QAccessibleWidget>

class ConsoleView;

// What assistive technology and scripted tests read from the console: a read-only, multi-line
// text (all lines joined by "\n") whose description gives the line count, with the console's
// selection as its one text selection. Every answer takes bounded time, however much the console
// holds (201 rows of up to 64 K characters each): a text is answered in pages of at most
// MaxTextLength characters, the value is the newest page, and the text around an offset is found
// in the rows next to it.
// Created by the accessibility factory that ConsoleView installs; Qt's accessibility cache owns
// each instance.
class ConsoleAccessible : public QAccessibleWidget, public QAccessibleTextInterface
{
public:
    explicit ConsoleAccessible(ConsoleView *view);

    static constexpr int MaxTextLength = 64 * 1024;

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
    // At most MaxTextLength characters from startOffset on.
    QString text(int startOffset, int endOffset) const override;
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                             int *startOffset, int *endOffset) const override;
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                            int *startOffset, int *endOffset) const override;
    QString textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType, int *startOffset,
                         int *endOffset) const override;
    int characterCount() const override;
    QRect characterRect(int offset) const override;
    int offsetAtPoint(const QPoint &point) const override;
    void scrollToSubstring(int startIndex, int endIndex) override;
    QString attributes(int offset, int *startOffset, int *endOffset) const override;

private:
    ConsoleView *view() const;
    // The text between two offsets, uncapped; the offsets must lie within the text.
    QString range(int startOffset, int endOffset) const;
    // Answers a question about the text around `offset` with Qt's own rules, on the row that
    // holds it and its neighbours.
    template <typename Question>
    QString aroundOffset(int offset, int *startOffset, int *endOffset, Question question) const;
    // The row and column of a character offset into allText(); false when out of range.
    bool locate(int offset, int *row, int *column) const;
};
