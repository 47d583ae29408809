// The window's forms as the language switch and the forms dump see them: every form of the
// program and the components each owns.
#include <QAction>
#include <QCoreApplication>
#include <QGroupBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTabWidget>
#include <QTranslator>
#include <map>
#include <set>

#include "app/qt/about_form.h"
#include "app/qt/dialogs.h"
#include "app/qt/main_window.h"
#include "ui/captions.h"

namespace app {

// Every captioned component of the program's forms takes its text from the caption table in
// the chosen language, by the class it stands for: menu items, buttons, group boxes and static
// texts. Check boxes, radio groups, labels and tab sheets keep their design captions. A name that
// the table holds twice is looked up per form (see CaptionFor).
void TForm1::ScanApp(int firstForm) {
    const int language = langEnglish_->isChecked() ? 0 : 1;
    std::map<std::string, int> formsWithName;
    const QList<QWidget*> forms = Forms();
    for (int index = 0; index < forms.size(); ++index) {
        QWidget* form = forms[index];
        std::set<std::string> namesHere;
        for (QObject* object : Components(form)) {
            const QString vcl = VclClass(object);
            const std::string name = object->objectName().toStdString();
            if (vcl.isEmpty() || name.empty()) continue;
            namesHere.insert(name);
            // The forms captioned before still count for the lines of a shared name.
            if (index < firstForm) continue;
            const auto text = ui::CaptionFor(name, language, formsWithName[name]);
            if (!text) continue;
            const QString caption = QString::fromStdString(*text);
            if (vcl == "TMenuItem") {
                if (auto* action = qobject_cast<QAction*>(object)) action->setText(caption);
                if (auto* menu = qobject_cast<QMenu*>(object)) menu->setTitle(caption);
            } else if (vcl == "TButton") {
                if (auto* button = qobject_cast<QPushButton*>(object)) button->setText(caption);
            } else if (vcl == "TGroupBox") {
                if (auto* box = qobject_cast<QGroupBox*>(object)) box->setTitle(caption);
            } else if (vcl == "TStaticText") {
                if (auto* label = qobject_cast<QLabel*>(object)) label->setText(caption);
            }
        }
        for (const std::string& name : namesHere) ++formsWithName[name];
    }
    if (optionForm_)
        optionForm_->setWindowTitle(
            QString::fromStdString(" " + ui::UiText("Kordavel Options", language)));
    if (aboutForm_) aboutForm_->SetLanguage(language);
    if (selectForm_) selectForm_->SetLanguage(language);
    FollowQtLanguage(language);
}

// Qt's own texts (standard buttons, the file dialog) come from Qt's translations where they are
// installed; without them they stay English.
void TForm1::FollowQtLanguage(int language) {
    if (language == 0) {
        if (qtRussian_) QCoreApplication::removeTranslator(qtRussian_.get());
        return;
    }
    if (!qtRussian_) {
        auto translator = std::make_unique<QTranslator>();
        if (!translator->load("qtbase_ru", QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
            return;
        qtRussian_ = std::move(translator);
    }
    QCoreApplication::installTranslator(qtRussian_.get());
}

QList<QObject*> TForm1::Components(QWidget* form) const {
    // The dialogs are children of the main window, but their components are their own.
    const QList<QWidget*> forms = Forms();
    QList<QObject*> owned;
    for (QObject* object : form->findChildren<QObject*>()) {
        QObject* owner = object->parent();
        while (owner && !forms.contains(qobject_cast<QWidget*>(owner))) owner = owner->parent();
        if (owner == form && !forms.contains(qobject_cast<QWidget*>(object))) owned.append(object);
    }
    return owned;
}

QList<QWidget*> TForm1::Forms() const {
    QList<QWidget*> forms = {const_cast<TForm1*>(this)};
    for (QWidget* form :
         std::initializer_list<QWidget*>{optionForm_, aboutForm_, inputForm_, selectForm_})
        if (form) forms.append(form);
    return forms;
}

std::string TForm1::FormsJson() const {
    // The dump lists every form, made or not.
    const_cast<TForm1*>(this)->MakeForms(4);
    QJsonArray components;
    for (QWidget* form : Forms()) {
        QList<QObject*> objects = {form};
        objects += Components(form);
        for (QObject* object : objects) {
            const QString vcl = VclClass(object);
            if (vcl.isEmpty() || object->objectName().isEmpty()) continue;
            QString caption;
            bool enabled = true, visible = true;
            if (auto* action = qobject_cast<QAction*>(object)) {
                caption = action->text();
                enabled = action->isEnabled();
                visible = action->isVisible();
            } else if (auto* widget = qobject_cast<QWidget*>(object)) {
                QTabWidget* pages = nullptr;
                for (QObject* p = widget->parent(); p && !pages; p = p->parent())
                    pages = qobject_cast<QTabWidget*>(p);
                if (auto* menu = qobject_cast<QMenu*>(widget))
                    caption = menu->title();
                else if (vcl == "TTabSheet" && pages)
                    caption = pages->tabText(pages->indexOf(widget));
                else if (auto* button = qobject_cast<QAbstractButton*>(widget))
                    caption = button->text();
                else if (auto* box = qobject_cast<QGroupBox*>(widget))
                    caption = box->title();
                else if (auto* label = qobject_cast<QLabel*>(widget))
                    caption = label->text();
                else if (auto* edit = qobject_cast<QLineEdit*>(widget))
                    caption = edit->text();
                else if (widget->isWindow())
                    caption = widget->windowTitle();
                enabled = widget->isEnabled();
                // As designed: a form's own visibility, its components' within it (a menu by
                // its item, a page whether or not it is the one in front).
                if (auto* menu = qobject_cast<QMenu*>(widget)) {
                    enabled = menu->menuAction()->isEnabled();
                    visible = menu->menuAction()->isVisible();
                } else if (vcl == "TTabSheet") {
                    visible = true;
                } else if (widget == form) {
                    visible = widget->isVisible();
                } else {
                    visible = true;
                    for (QWidget* w = widget; w && w != form; w = w->parentWidget())
                        if (w->isHidden() && VclClass(w) != "TTabSheet") visible = false;
                }
            }
            QJsonObject entry;
            entry["form"] = form->objectName();
            entry["name"] = object->objectName();
            entry["class"] = vcl;
            entry["caption"] = caption;
            entry["enabled"] = enabled;
            entry["visible"] = visible;
            components.append(entry);
        }
    }
    return QJsonDocument(components).toJson(QJsonDocument::Indented).toStdString();
}

}  // namespace app
