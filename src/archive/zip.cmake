# The zip component, its drive and volume helpers, and the seams it needs.
target_sources(parevo_core PRIVATE
  archive/Zip.cpp
  archive/ZipDlls.cpp
  archive/zip_names.cpp
  platform/codepage.cpp
  platform/drive_info.cpp
  platform/batch_prompter.cpp
)
