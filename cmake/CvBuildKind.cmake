# What differs between the 32-bit build and its 64-bit twin outside the sources, in
# one place: the scripts (suite installer, main job, DLL check) read the file
# written here from the build tree instead of deciding for themselves.
#   CV_BITS           32 or 64
#   CV_REG_VIEW       the reg.exe switch for the registry view this build's
#                     programs see under HKLM\SOFTWARE (/reg:32 or /reg:64)
#   CV_PROGRAM_FILES  where an installer puts this build's binaries
#   CV_REGSVR32       the regsvr32 of this build's bitness
#   CV_WIN_SYSTEM_DLLS  a folder of Wine's system DLLs (for the import check); the
#                     64-bit ones serve both builds, since Windows names its system
#                     DLLs alike in both bitnesses and 32-bit Wine may not be installed
#   CV_PE_FORMAT      objdump's name of the image format, CV_OBJDUMP and CV_ADDR2LINE
if(CV_MINGW_ARCH STREQUAL "x86_64")
  set(kind_bits 64)
  set(kind_reg_view "/reg:64")
  set(kind_program_files "C:\\Program Files")
  set(kind_regsvr32 "C:\\windows\\system32\\regsvr32.exe")
  set(kind_system_dlls "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows")
  set(kind_pe_format "pei-x86-64")
else()
  set(kind_bits 32)
  set(kind_reg_view "/reg:32")
  set(kind_program_files "C:\\Program Files (x86)")
  set(kind_regsvr32 "C:\\windows\\syswow64\\regsvr32.exe")
  set(kind_system_dlls "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows")
  set(kind_pe_format "pei-i386")
endif()
file(WRITE "${CMAKE_BINARY_DIR}/cv-build-kind.sh"
"# Written by cmake/CvBuildKind.cmake: what this Windows build is.
CV_BITS=${kind_bits}
CV_REG_VIEW='${kind_reg_view}'
CV_PROGRAM_FILES='${kind_program_files}'
CV_REGSVR32='${kind_regsvr32}'
CV_WIN_SYSTEM_DLLS='${kind_system_dlls}'
CV_PE_FORMAT='${kind_pe_format}'
CV_OBJDUMP='${CV_MINGW_ARCH}-w64-mingw32-objdump'
CV_ADDR2LINE='${CV_MINGW_ARCH}-w64-mingw32-addr2line'
")
