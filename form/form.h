#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <mutex>

enum class ControlKind {
    Edit,
    Radio,
    Check,
    Combo,
    Label,
    Button,
    GroupBox,
    StatusBar,
    TabControl,
    List,
    Picture,
};

struct ComboItem {
    QString text;
    qint64 value = 0;
    friend bool operator==(const ComboItem &, const ComboItem &) = default;
};

// The state of a window's controls, keyed by control name. The controls are
// the program's settings: the upload job reads and writes them from its own
// thread, the widgets show them on the user-interface thread (changes reach
// them through queued signals), and the settings file saves them by kind in
// the window's own order. A name the form does not have reads as the empty
// default and writes nowhere; it is logged as a warning of tolvar.form,
// which the tests treat as a failure.
class Form final : public QObject {
    Q_OBJECT
public:
    explicit Form(QObject *parent = nullptr);

    // Declares a control; the order of declaration is the window order.
    // `text` is the caption or content, `checked` the check or radio state,
    // `group` the radio group (radios of one group exclude each other).
    void addControl(const QString &name, ControlKind kind, const QString &text = {}, bool checked = false, const QString &group = {});

    bool has(const QString &name) const;
    ControlKind kind(const QString &name) const;
    QStringList names(ControlKind kind) const;
    QStringList names() const;
    QString group(const QString &name) const;

    // Content of an edit box, caption of a label, button, group box or check box.
    QString text(const QString &name) const;
    void setText(const QString &name, const QString &text);

    bool isChecked(const QString &name) const;
    void setChecked(const QString &name, bool checked);

    bool isEnabled(const QString &name) const;
    void setEnabled(const QString &name, bool enabled);

    // Whether the control is shown (true unless hidden on purpose).
    bool isVisible(const QString &name) const;
    void setVisible(const QString &name, bool visible);

    // A picture box's picture (encoded image bytes) and its tag text.
    QByteArray image(const QString &name) const;
    void setImage(const QString &name, const QByteArray &bytes);
    QString tag(const QString &name) const;
    void setTag(const QString &name, const QString &tag);

    QList<ComboItem> comboItems(const QString &name) const;
    int comboIndex(const QString &name) const;
    void setComboItems(const QString &name, const QList<ComboItem> &items, int index = -1);

    // Parts of a status bar (counted from 0) or pages of a tab control.
    QString partText(const QString &name, int part) const;
    void setPartText(const QString &name, int part, const QString &text);
    int partCount(const QString &name) const;
    int currentPage(const QString &name) const;
    void setCurrentPage(const QString &name, int page);

    // Presses a button or a radio/check box as a user would: the state
    // changes first, then `clicked` is emitted on the caller's thread.
    void click(const QString &name);

signals:
    void changed(const QString &name);
    void clicked(const QString &name);

private:
    struct Control {
        ControlKind kind = ControlKind::Label;
        QString text;
        bool checked = false;
        bool enabled = true;
        bool visible = true;
        QString group;
        QByteArray image;
        QString tag;
        QStringList parts;
        QList<ComboItem> items;
        int index = -1;
    };

    // Runs `change` on the named control under the lock; emits `changed`
    // for every control it reports as modified, after unlocking.
    // The named control, or an empty one (with a warning) for a name the
    // form does not have. Call with the lock held.
    const Control &control(const QString &name) const;
    static void warnUnknown(const QString &name);

    void modify(const QString &name, const std::function<bool(Control &, QStringList &)> &change);

    mutable std::mutex m_mutex;
    QHash<QString, Control> m_controls;
    QStringList m_order;
};
