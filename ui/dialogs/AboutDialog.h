#pragma once

#include "core/Prompter.h"

#include <QDialog>
#include <QIcon>

namespace ui {

class CHyperlink;

// "About Quillsever": the icon, the product and version, a line about the maker and two links,
// the home page and a new mail to the support address. Made for each opening, so the links
// start unvisited every time.
class CAboutDialog : public QDialog {
    Q_OBJECT
  public:
    // Link failures are reported through `prompter`.
    CAboutDialog(core::Prompter& prompter, const QIcon& icon, QWidget* parent = nullptr);

    CHyperlink& HomeLink() { return *m_home; }
    CHyperlink& MailLink() { return *m_mail; }

  private:
    CHyperlink* m_home;
    CHyperlink* m_mail;
};

} // namespace ui
