# The RAR component and its binding to the run-time-loaded RAR library.
target_sources(parevo_core PRIVATE
  archive/DFUnRar.cpp
  archive/untUnRar.cpp
)
