#include "app/window_builder.h"

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
#include <QTabWidget>
#include <QTableView>

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
    connect(&m_form, &Form::changed, this, &WindowBuilder::refresh);
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
