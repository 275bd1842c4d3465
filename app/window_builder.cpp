#include "app/window_builder.h"

#include "app/log.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QLineEdit>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTabWidget>
#include <QTableView>

#include <algorithm>
#include <cstdlib>

namespace {

// A status bar of fixed-width parts, as the window design lays it out.
QWidget *makeStatusBar(const ControlDef &def, QWidget *parent, const int *widths, int count)
{
    auto *bar = new QWidget(parent);
    auto *row = new QHBoxLayout(bar);
    row->setContentsMargins(2, 0, 2, 0);
    row->setSpacing(2);
    const int parts = static_cast<int>(def.text.count(u'|')) + 1;
    for (int i = 0; i < parts; ++i) {
        auto *part = new QLabel(bar);
        part->setObjectName(def.name + u'#' + QString::number(i));
        part->setFrameShape(QFrame::StyledPanel);
        // Status texts come from servers and pages: never read as markup.
        part->setTextFormat(Qt::PlainText);
        if (i < count)
            part->setFixedWidth(widths[i]);
        row->addWidget(part, i < count ? 0 : 1);
    }
    return bar;
}

// Where a check box's, radio button's or label's caption starts inside it.
int captionStart(QWidget *w)
{
    QStyleOptionButton option;
    option.initFrom(w);
    if (qobject_cast<QCheckBox *>(w))
        return w->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, w).left();
    if (qobject_cast<QRadioButton *>(w))
        return w->style()->subElementRect(QStyle::SE_RadioButtonContents, &option, w).left();
    const auto *label = qobject_cast<QLabel *>(w);
    return label ? label->contentsRect().left() + label->margin() : 0;
}

QString captionOf(QWidget *w)
{
    if (auto *b = qobject_cast<QAbstractButton *>(w))
        return b->text();
    if (auto *l = qobject_cast<QLabel *>(w))
        return l->text();
    return {};
}

// The run of blanks of `host`'s caption that holds `edit` by design (the one
// nearest its centre), in the parent's coordinates; empty when there is none.
QRect blankRunFor(QWidget *host, const QRect &edit)
{
    static const QRegularExpression blanks(QStringLiteral(" {3,}"));
    host->ensurePolished();
    const QString caption = captionOf(host);
    const QFontMetrics metrics = host->fontMetrics();
    const int start = host->x() + captionStart(host);
    QRect best;
    for (auto it = blanks.globalMatch(caption); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        const int left = start + metrics.horizontalAdvance(caption.left(m.capturedStart()));
        const int right = start + metrics.horizontalAdvance(caption.left(m.capturedEnd()));
        const QRect run(left, edit.top(), right - left, edit.height());
        if (best.isNull() || std::abs(run.center().x() - edit.center().x()) < std::abs(best.center().x() - edit.center().x()))
            best = run;
    }
    return best;
}

QString toWidgetText(const QString &formText)
{
    QString t = formText;
    return t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

QString toFormText(const QString &widgetText)
{
    QString t = widgetText;
    return t.replace(u'\n', QStringLiteral("\r\n"));
}

} // namespace

WindowBuilder::WindowBuilder(Form &form, QWidget *window, const QList<ControlDef> &layout, const int *statusWidths, int statusWidthCount)
    : QObject(window)
    , m_form(form)
    , m_statusWidths(statusWidths)
    , m_statusWidthCount(statusWidthCount)
{
    for (const ControlDef &def : layout) {
        QWidget *w = create(def, parentFor(def.parent, window));
        w->setObjectName(def.name);
        w->setGeometry(def.geometry);
        m_widgets.insert(def.name, w);
        bindInput(def, w);
        refresh(def.name);
    }
    fitInlineEdits(layout);
    connect(&m_form, &Form::changed, this, &WindowBuilder::refresh);
}

void WindowBuilder::fitInlineEdits(const QList<ControlDef> &layout)
{
    // An edit box that sits inside a caption ("上传      个视频后…") goes into
    // the caption's blanks, measured in the font this system draws with: the
    // design's pixel positions were made for one font and cover the words
    // next to the blanks in another.
    for (const ControlDef &edit : layout) {
        if (edit.kind != ControlKind::Edit || edit.multiLine)
            continue;
        for (const ControlDef &host : layout) {
            const bool captioned = host.kind == ControlKind::Check || host.kind == ControlKind::Radio || host.kind == ControlKind::Label;
            if (!captioned || host.parent != edit.parent || !host.geometry.contains(edit.geometry.center()))
                continue;
            const QRect run = blankRunFor(m_widgets.value(host.name), edit.geometry);
            constexpr int kGap = 2;
            const int width = std::min(run.width() - 2 * kGap, edit.geometry.width());
            if (width < 16) {
                qCWarning(lcApp).noquote() << "no room for" << edit.name << "in the caption of" << host.name << "-- kept where the design puts it";
                continue;
            }
            QRect fitted = edit.geometry;
            fitted.setLeft(run.center().x() - width / 2);
            fitted.setWidth(width);
            m_widgets.value(edit.name)->setGeometry(fitted);
        }
    }
}

QWidget *WindowBuilder::parentFor(const QString &parent, QWidget *window) const
{
    if (parent.isEmpty())
        return window;
    const int hash = static_cast<int>(parent.indexOf(u'#'));
    if (hash < 0)
        return m_widgets.value(parent, window);
    auto *tabs = qobject_cast<QTabWidget *>(m_widgets.value(parent.left(hash)));
    QWidget *page = tabs ? tabs->widget(parent.mid(hash + 1).toInt()) : nullptr;
    return page ? page : window;
}

QWidget *WindowBuilder::create(const ControlDef &def, QWidget *parent)
{
    switch (def.kind) {
    case ControlKind::Edit:
        if (def.multiLine)
            return new QPlainTextEdit(parent);
        return new QLineEdit(parent);
    case ControlKind::Radio: {
        auto *r = new QRadioButton(def.text, parent);
        r->setAutoExclusive(false); // the form keeps groups exclusive
        return r;
    }
    case ControlKind::Check:
        return new QCheckBox(def.text, parent);
    case ControlKind::Combo:
        return new QComboBox(parent);
    case ControlKind::Button:
        return new QPushButton(def.text, parent);
    case ControlKind::GroupBox:
        return new QGroupBox(def.text, parent);
    case ControlKind::TabControl: {
        auto *tabs = new QTabWidget(parent);
        for (const QString &page : def.text.split(u'|')) {
            auto *w = new QWidget(tabs);
            w->setObjectName(def.name + QStringLiteral("_page_") + page);
            tabs->addTab(w, page);
        }
        return tabs;
    }
    case ControlKind::StatusBar:
        return makeStatusBar(def, parent, m_statusWidths, m_statusWidthCount);
    case ControlKind::List:
        return new QTableView(parent);
    case ControlKind::Picture:
    case ControlKind::Label: {
        auto *label = new QLabel(parent);
        // Captions come from announcements, versions and paths: a text that
        // looks like markup is shown as it is.
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(def.kind == ControlKind::Label && def.geometry.height() > 30);
        return label;
    }
    }
    return new QWidget(parent);
}

void WindowBuilder::bindInput(const ControlDef &def, QWidget *w)
{
    const QString name = def.name;
    Form *form = &m_form;
    if (auto *e = qobject_cast<QLineEdit *>(w))
        connect(e, &QLineEdit::textEdited, this, [form, name](const QString &t) { form->setText(name, t); });
    else if (auto *p = qobject_cast<QPlainTextEdit *>(w))
        connect(p, &QPlainTextEdit::textChanged, this, [form, name, p] { form->setText(name, toFormText(p->toPlainText())); });
    else if (auto *b = qobject_cast<QAbstractButton *>(w))
        connect(b, &QAbstractButton::clicked, this, [this, form, name] {
            form->click(name);
            refresh(name); // a click on a selected radio must not unselect it
        });
    else if (auto *t = qobject_cast<QTabWidget *>(w))
        connect(t, &QTabWidget::currentChanged, this, [form, name](int i) { form->setCurrentPage(name, i); });
    else if (auto *c = qobject_cast<QComboBox *>(w))
        connect(c, &QComboBox::currentIndexChanged, this, [form, name, c](int) {
            QList<ComboItem> items;
            for (int i = 0; i < c->count(); ++i)
                items.append({c->itemText(i), c->itemData(i).toLongLong()});
            form->setComboItems(name, items, c->currentIndex());
        });
    else if (def.kind == ControlKind::Label || def.kind == ControlKind::Picture)
        w->installEventFilter(this);
}

bool WindowBuilder::eventFilter(QObject *watched, QEvent *event)
{
    // Labels and pictures act on the left button only.
    if (event->type() == QEvent::MouseButtonPress && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton)
        m_form.click(watched->objectName());
    return QObject::eventFilter(watched, event);
}

void WindowBuilder::refresh(const QString &name)
{
    QWidget *w = m_widgets.value(name);
    if (!w)
        return;
    const QString text = m_form.text(name);
    w->setEnabled(m_form.isEnabled(name));
    // Only a hidden control is shown again; the others keep Qt's own rule.
    if (!m_form.isVisible(name))
        w->hide();
    else if (w->isHidden() && w->testAttribute(Qt::WA_WState_ExplicitShowHide))
        w->show();
    if (m_form.kind(name) == ControlKind::Picture) {
        if (auto *picture = qobject_cast<QLabel *>(w)) {
            QPixmap pixmap;
            if (pixmap.loadFromData(m_form.image(name)))
                picture->setPixmap(pixmap);
            else
                picture->clear();
        }
        return;
    }
    if (auto *e = qobject_cast<QLineEdit *>(w)) {
        if (e->text() != text)
            e->setText(text);
    } else if (auto *p = qobject_cast<QPlainTextEdit *>(w)) {
        if (toFormText(p->toPlainText()) != text) {
            const QSignalBlocker block(p);
            p->setPlainText(toWidgetText(text));
        }
    } else if (auto *b = qobject_cast<QAbstractButton *>(w)) {
        b->setText(text);
        if (b->isCheckable() || qobject_cast<QRadioButton *>(w) || qobject_cast<QCheckBox *>(w))
            b->setChecked(m_form.isChecked(name));
    } else if (auto *g = qobject_cast<QGroupBox *>(w)) {
        g->setTitle(text);
    } else if (auto *t = qobject_cast<QTabWidget *>(w)) {
        const QSignalBlocker block(t);
        t->setCurrentIndex(m_form.currentPage(name));
    } else if (auto *c = qobject_cast<QComboBox *>(w)) {
        const QSignalBlocker block(c);
        c->clear();
        for (const ComboItem &item : m_form.comboItems(name))
            c->addItem(item.text, item.value);
        c->setCurrentIndex(m_form.comboIndex(name));
    } else if (auto *l = qobject_cast<QLabel *>(w)) {
        l->setText(text);
    } else if (m_form.kind(name) == ControlKind::StatusBar) {
        for (int i = 0; i < m_form.partCount(name); ++i)
            if (auto *part = w->findChild<QLabel *>(name + u'#' + QString::number(i)))
                part->setText(m_form.partText(name, i));
    }
}
