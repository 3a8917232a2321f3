# Windows: the programs, the tests and the two extraction libraries find the
# DLLs they need in their own folder (the libraries are loaded from there and
# nowhere else), so the build folder gets a copy of the dependencies' DLLs and
# of Qt's plugins, as the packaged folder has them.
set(_runtime_dlls "")
foreach(_prefix IN LISTS CMAKE_PREFIX_PATH)
  file(GLOB _dlls "${_prefix}/bin/*.dll")
  list(APPEND _runtime_dlls ${_dlls})
  foreach(_plugin platforms/qwindows.dll styles/qwindowsvistastyle.dll platforms/qoffscreen.dll)
    if(EXISTS "${_prefix}/plugins/${_plugin}")
      get_filename_component(_folder "${_plugin}" DIRECTORY)
      file(COPY "${_prefix}/plugins/${_plugin}"
           DESTINATION "${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${_folder}")
    endif()
  endforeach()
endforeach()
# The MinGW run-time, where the prefixes do not have it.
foreach(_name libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${_name}
                  OUTPUT_VARIABLE _found OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(EXISTS "${_found}")
    list(APPEND _runtime_dlls "${_found}")
  endif()
endforeach()
list(REMOVE_DUPLICATES _runtime_dlls)
file(COPY ${_runtime_dlls} DESTINATION "${CMAKE_RUNTIME_OUTPUT_DIRECTORY}")
set(PAREVO_RUNTIME_DLLS ${_runtime_dlls} CACHE INTERNAL "DLLs the Windows programs ship with")
