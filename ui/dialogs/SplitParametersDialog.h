#pragma once

#include "core/Prompter.h"
#include "core/SetupOptions.h"
#include "core/SplitPlan.h"
#include "propose/NamesFile.h"

#include <QDialog>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace ui {

class CPlanPreview;

// The dialog object's fields, kept between openings (the caller sets what it wants first).
struct SplitParametersFields {
    std::string fileName;
    int32_t pages = 0;
    std::string splitParameters, moveTo, splitTo;
    std::string incrementName, usePagesName, keepBookmarks; // "Y"/"N"/""
    std::string fileList;
    int32_t incrementStart = 0, skipPages = 0, pageOffset = 0;
    bool useSame = false; // the use-same-parameters box
};

// Where a job gets its split-parameter string, its folders and its naming options. The object
// lives as long as the main window: what one job was given is what the next one is offered.
class CSplitParametersDialog : public QDialog {
    Q_OBJECT

  public:
    // Picks a folder: (title, prompt, folder to show first) → the chosen path, or nothing when
    // the user cancelled.
    using FolderChooser = std::function<std::optional<std::string>(
        const std::string& title, const std::string& prompt, const std::string& initial)>;

    // openHelp: called by the "&Help" button (may be empty: then the button does nothing).
    CSplitParametersDialog(core::Prompter& prompter, std::function<void()> openHelp,
                           QWidget* parent = nullptr);
    ~CSplitParametersDialog() override;

    SplitParametersFields& Fields();

    // Modal. alwaysShow clear → performs Save & Exit at once (auto-accept when the check passes).
    // Returns 1 (accept) from Save & Exit, 0 from Cancel or Escape.
    int Open(bool alwaysShow);

    // Replaces what the "&Help" button does.
    void SetOpenHelp(std::function<void()> openHelp) { m_openHelp = std::move(openHelp); }

    // Replaces the folder chooser the two Browse buttons open (the real one by default).
    void SetFolderChooser(FolderChooser chooser);

    // The naming options the preview names outputs with: the ones the run will use. Until this
    // is called the preview names them with the default options.
    void SetPlanContext(const core::SetupOptions* options);

    // The preview below the controls: plan, summary and page pictures.
    CPlanPreview* Preview() const { return m_preview; }
    // The job as the controls hold it now, as the preview plans it.
    core::PlanJob PlanJobFromControls() const;

    // Whether the preview opens unfolded: as the user last left it, on this machine.
    static bool PreviewUnfoldedSetting();

  public slots:
    // However the dialog ends, a names file a proposal wrote during it whose names did not
    // make it into the fields is removed.
    void done(int result) override;

  protected:
    void showEvent(QShowEvent* event) override;

    void keyPressEvent(QKeyEvent* event) override;

  private:
    void Build();
    void ShowFields();
    bool TakeFields();
    bool SaveAndExit();
    void OnSaveAndExit();
    void OnIncrementClicked();
    void OnPageRangeClicked();
    void Browse(QLineEdit* edit, const std::string& title, const std::string& prompt);
    void BuildPreview();
    // Places the preview below the fields (folded) or beside them (unfolded) and sizes the
    // dialog so that all of it fits the screen it opens on.
    void FitPreview();
    QRect AvailableArea() const;
    void AppendRange(int first, int last);

    core::Prompter& m_prompter;
    std::function<void()> m_openHelp;
    FolderChooser m_chooser;
    const core::SetupOptions* m_options = nullptr; // naming options of the run (nullptr: defaults)
    SplitParametersFields m_fields;
    bool m_incrementMode = false;
    bool m_keepBookmarksBox = true;
    propose::CWrittenNames m_writtenNames; // by the proposals of this opening
    std::string m_fileListAtOpen;

    QLineEdit* m_splitParameters = nullptr;
    QLineEdit* m_moveTo = nullptr;
    QLineEdit* m_splitTo = nullptr;
    QLineEdit* m_fileList = nullptr;
    QCheckBox* m_keepBookmarks = nullptr;
    QLineEdit* m_skipPages = nullptr;
    QRadioButton* m_increment = nullptr;
    QRadioButton* m_pageRange = nullptr;
    QLineEdit* m_incrementStart = nullptr;
    QLineEdit* m_pageOffset = nullptr;
    QLineEdit* m_fileName = nullptr;
    QLineEdit* m_pages = nullptr;
    QCheckBox* m_useSame = nullptr;
    CPlanPreview* m_preview = nullptr;
    QSize m_controls; // the fields' area, from the template, widened for its longest texts
};

} // namespace ui
