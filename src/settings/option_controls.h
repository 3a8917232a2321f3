#pragma once
// The option controls of the main window as the settings code and the front ends
// see them. The window implements this over its widgets; PlainOptionControls
// holds the same state for the command line and the tests.

#include <string>
#include <string_view>

#include "trim/trim_rom.h"

namespace parevo {

class OptionControls {
  public:
    virtual ~OptionControls() = default;

    // Check boxes. Setting CustomPath to a new state runs UpdateFolderTreeEnabled, as a
    // toggle of the box does.
    virtual bool CustomPath() const = 0;
    virtual void SetCustomPath(bool checked) = 0;
    virtual bool SafeTrim() const = 0;
    virtual void SetSafeTrim(bool checked) = 0;
    virtual bool TrimSceneNumber() const = 0;
    virtual void SetTrimSceneNumber(bool checked) = 0;
    virtual bool HeaderRomName() const = 0;
    virtual void SetHeaderRomName(bool checked) = 0;
    virtual bool DeleteSource() const = 0;
    virtual void SetDeleteSource(bool checked) = 0;

    // The byte jump field: its value as it reads now (a typed number not yet
    // brought into range reads as typed); setting it brings it into 1..2000.
    virtual int ByteJump() const = 0;
    virtual void SetByteJump(int value) = 0;

    virtual std::string AppendText() const = 0;
    virtual void SetAppendText(const std::string& text) = 0;

    // The folder selected in the folder tree, and selecting one by its path.
    virtual std::string PathFolder() const = 0;
    virtual void SelectFolder(const std::string& path) = 0;

    // The DAT file runs verify the ROMs against; empty for none.
    virtual std::string DatFile() const = 0;
    virtual void SetDatFile(const std::string& path) = 0;

    // The handler of the CustomPath box: the folder tree is enabled exactly when
    // the box is checked.
    virtual void UpdateFolderTreeEnabled() = 0;

    // The application's hint delays, in milliseconds: before a hint shows, and
    // before the next one while a hint is showing.
    virtual void SetHintPause(int milliseconds) = 0;
    virtual void SetHintShortPause(int milliseconds) = 0;
};

// Brings a byte jump into 1..2000, as the field does.
int ClampByteJump(long long value);

// The field's text read as a whole decimal number (optionally signed, not yet
// brought into range); text that is no number reads as 1.
int ReadByteJumpText(std::string_view text);

// The controls' state with the window's defaults.
class PlainOptionControls : public OptionControls {
  public:
    bool CustomPath() const override { return m_customPath; }
    void SetCustomPath(bool checked) override;
    bool SafeTrim() const override { return m_safeTrim; }
    void SetSafeTrim(bool checked) override { m_safeTrim = checked; }
    bool TrimSceneNumber() const override { return m_trimSceneNumber; }
    void SetTrimSceneNumber(bool checked) override { m_trimSceneNumber = checked; }
    bool HeaderRomName() const override { return m_headerRomName; }
    void SetHeaderRomName(bool checked) override { m_headerRomName = checked; }
    bool DeleteSource() const override { return m_deleteSource; }
    void SetDeleteSource(bool checked) override { m_deleteSource = checked; }
    int ByteJump() const override { return m_byteJump; }
    void SetByteJump(int value) override { m_byteJump = ClampByteJump(value); }
    // As if typed into the field: read as typed, not yet brought into range.
    void SetByteJumpText(std::string_view text) { m_byteJump = ReadByteJumpText(text); }
    std::string AppendText() const override { return m_appendText; }
    void SetAppendText(const std::string& text) override { m_appendText = text; }
    std::string PathFolder() const override { return m_folder; }
    void SelectFolder(const std::string& path) override { m_folder = path; }
    std::string DatFile() const override { return m_datFile; }
    void SetDatFile(const std::string& path) override { m_datFile = path; }
    void UpdateFolderTreeEnabled() override { m_pathEnabled = m_customPath; }
    void SetHintPause(int milliseconds) override { m_hintPause = milliseconds; }
    void SetHintShortPause(int milliseconds) override { m_hintShortPause = milliseconds; }

    bool PathEnabled() const { return m_pathEnabled; }
    int HintPause() const { return m_hintPause; }
    int HintShortPause() const { return m_hintShortPause; }

  private:
    bool m_customPath = false;
    bool m_safeTrim = true;
    bool m_trimSceneNumber = false;
    bool m_headerRomName = false;
    bool m_deleteSource = false;
    int m_byteJump = kDefaultByteJump;
    std::string m_appendText = "_trim";
    std::string m_folder;  // no folder chosen yet
    std::string m_datFile;
    bool m_pathEnabled = false;
    int m_hintPause = 500;
    int m_hintShortPause = 0;
};

// The trimming options the controls hold now, for TrimEnvironment::Options. The
// byte jump is brought into range. A ticked custom folder stays ticked when no
// folder is chosen: the run refuses it rather than write beside the source.
TrimOptions ToTrimOptions(const OptionControls& controls);

}  // namespace parevo
