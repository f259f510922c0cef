#pragma once

#include "ConsoleModel.h"
#include "ConsoleSelection.h"
#include "RowPainter.h"
#include "SelectionMouse.h"

#include <QBasicTimer>
#include <QElapsedTimer>
#include <QFont>
#include <QPointer>
#include <QWidget>

#include <utility>

class NewRowsButton;
class QAction;
class QPainter;
class QScrollArea;
class QScrollBar;
class QWindow;

// The server console: the widget of a QScrollArea that is not widget-resizable. The interface
// file creates it (as a promoted widget inside the scroll area) and then calls awakeFromNib()
// once, which installs the VScroller and starts following the end of the output.
//
// Appends update the ConsoleModel at once, so everything the rules answer (lines, frame, follow
// flag, viewport position, redisplay asked for) is exact after every call. The widget catches up
// later, at most once per frame of its window (or through a posted event while it has no shown
// window): one resize, one scroll-bar value and one repaint for any number of lines. flush()
// applies that work at once; a user's scrolling flushes first and feeds the model immediately.
// Painting always matches the geometry last applied, never the model's newer state.
//
// The widget is never smaller than the scroll area's viewport, so that a click, a context menu
// or the focus ring anywhere in the viewport is the console's; the scroll area itself takes no
// focus. Any scrolling by the user pauses following away from the end and resumes it there.
class ConsoleView : public QWidget
{
    Q_OBJECT
    friend class SelectionMouse;

public:
    explicit ConsoleView(QWidget *parent = nullptr);

    // The system's fixed-pitch font, or the user's text font, at the console's size.
    static QFont textFont(bool userFont = false);
    ~ConsoleView() override;

    // The font the rows are drawn in now.
    const QFont &rowFont() const { return m_rows.font(); }
    void setUserTextFont(bool userFont);

    void awakeFromNib();

    void scrollToEnd(bool enable);
    bool endScroll() const { return m_model.endScroll(); }

    // A launcher line (separator, error, exit status, echoed command): always a row of its own.
    // The launcher's own kinds are drawn apart from the output, notes with the time.
    void appendLine(const QString &line,
                    ConsoleModel::RowKind kind = ConsoleModel::RowKind::Output);
    // Output of `source` (a server run), in whole lines: see ConsoleModel. A null or empty text
    // adds nothing. `spans` colour parts of it (see ConsoleModel).
    void appendText(const QString &text, const QObject *source = nullptr,
                    const StyleSpans &spans = StyleSpans());
    // The source's output has ended: its unfinished last row counts as complete.
    void endText(const QObject *source);

    const ConsoleModel &model() const { return m_model; }
    QStringList lines() const { return m_model.lines(); }
    int lineCount() const { return m_model.lineCount(); }
    // The document frame that the rules gave; the real geometry follows after flush().
    QRectF frame() const { return m_model.frame(); }
    QRectF visibleRect() const { return m_model.visibleRect(); }
    bool scrollRectToVisible(const QRectF &rect);

    // "Clear", also in the context menu; connect an Edit menu item to it or to deleteLines().
    QAction *clearAction() const { return m_clearAction; }
    // Over the console's lower edge while rows arrive unseen; made by awakeFromNib().
    NewRowsButton *newRowsButton() const { return m_newRowsButton; }
    int unseenRows() const { return m_model.unseenRows(); }
    // "Copy" (Ctrl+C), "Copy All" and "Select All" (Ctrl+A), in the context menu.
    QAction *copyAction() const { return m_copyAction; }
    QAction *copyAllAction() const { return m_copyAllAction; }
    QAction *selectAllAction() const { return m_selectAllAction; }

    const ConsoleSelection &selection() const { return m_selection; }
    QString selectedText() const { return m_selection.text(m_model); }
    // Selects the text between two offsets into the lines joined by "\n"; equal offsets clear.
    void selectOffsets(int start, int end);
    void clearSelection();

    void flush();

    // Test and benchmark hooks: how often coalesced work reached the widget, and the rows that
    // the last paint drew, as [first, end).
    int applyCount() const { return m_applyCount; }
    std::pair<int, int> lastDrawnRows() const { return m_lastDrawnRows; }

    // Where column `column` of line `index` begins, from the text's left edge; and the column
    // boundary nearest to `x` on that line. Measured once per text, and only as far as asked.
    qreal advanceTo(int index, int column) const { return m_rows.xOf(index, column); }
    int columnAt(int index, qreal x) const { return m_rows.columnAt(index, x); }

public Q_SLOTS:
    void deleteLines();
    // Scrolls to the end and follows it again (the new-rows button, End and Ctrl+End).
    void jumpToEnd();
    void copy();
    void copyAll();
    void selectAll();

Q_SIGNALS:
    // The count of unseen rows changed, as the screen shows it: emitted when the widget catches
    // up, and at once for the user's own scrolling.
    void unseenRowsChanged(int rows);

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    QScrollArea *enclosingScrollArea() const;
    void attach();
    void watchScrollBar(QScrollBar *bar);
    void userScrolled(int value);
    // The frame takes the widest row's width, measured a page past what the viewport shows.
    void measureWidth();
    // The frame, grown to fill the viewport.
    QSize laidOutSize() const;
    void fitToViewport();
    void scheduleApply();
    void announceUnseenRows();
    // After lines arrived: a selection whose lines were trimmed goes.
    void selectionAfterAppend();
    void selectionChanged();
    // On X11 the selection is also the primary selection, for a middle-click elsewhere.
    void copyToPrimary();
    void paintSelection(QPainter &painter, int index, qreal top, qreal right);
    void paintFocusRing(QPainter &painter);

    ConsoleModel m_model;
    RowPainter m_rows;
    QAction *m_clearAction = nullptr;
    NewRowsButton *m_newRowsButton = nullptr;
    int m_announcedUnseen = 0;
    QAction *m_copyAction = nullptr;
    QAction *m_copyAllAction = nullptr;
    QAction *m_selectAllAction = nullptr;

    ConsoleSelection m_selection;
    SelectionMouse m_mouse;

    QPointer<QScrollArea> m_area;
    QPointer<QWidget> m_viewport;
    QPointer<QScrollBar> m_bar;
    QPointer<QScrollBar> m_hbar; // whose position decides how far long rows are measured
    QMetaObject::Connection m_barConnection;
    QPointer<QWindow> m_frameWindow; // whose UpdateRequest paces our catching up

    // The lines as last laid out by flush(): a paint before the next flush (an expose, another
    // widget's repaint) draws these at the places the widget still shows.
    quint64 m_paintedFirst = 0;
    int m_paintedCount = 0;

    bool m_scheduled = false;
    // Frames while output streams come at most every FrameInterval: a terminal flood would
    // otherwise be painted at the platform's update rate, which on X11 is a 5 ms timer.
    static constexpr int FrameInterval = 16;
    QElapsedTimer m_lastFrame;
    QBasicTimer m_frameDelay;
    bool m_postedApply = false;
    bool m_applying = false;
    int m_applyCount = 0;
    std::pair<int, int> m_lastDrawnRows{0, 0};
};
