# The interpreter the quorin Python module is built for. The module loads
# only into the Python version it was compiled against, and its tests need
# numpy, pandas and pytest beside it, so the build asks the interpreter
# itself and refuses one that cannot serve. On Debian that is
# /usr/bin/python3: another python3 that comes first on PATH (pyenv, a
# venv made from it) sees none of Debian's packages.
#
# quorin_check_python(INTERPRETER VERSION_VAR) sets VERSION_VAR to the
# interpreter's version (major.minor) or stops the configuration with the
# reason. Runs in script mode too, for its test:
#   cmake -DQUORIN_PYTHON=/usr/bin/python3 -P python/interpreter.cmake
function(quorin_check_python interpreter version_var)
  set(advice "Configure with -DQUORIN_PYTHON=/usr/bin/python3 (Debian's interpreter, which \
sees Debian's python3-pybind11, python3-numpy and python3-pandas; `bash tools/setup.sh --test` \
installs them), or, for pip, make the virtual environment with \
`/usr/bin/python3 -m venv --system-site-packages`.")
  if(NOT EXISTS "${interpreter}")
    message(FATAL_ERROR "QUORIN_PYTHON: the interpreter ${interpreter} does not exist. ${advice}")
  endif()
  execute_process(
    COMMAND "${interpreter}" -c
      "import sys; print('%d.%d' % sys.version_info[:2]); import pybind11, numpy, pandas"
    OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status
    OUTPUT_STRIP_TRAILING_WHITESPACE)
  string(REGEX MATCH "^[0-9]+\\.[0-9]+" version "${out}")
  if(NOT status EQUAL 0 OR NOT version)
    string(REGEX MATCH "No module named '[^']*'" missing "${err}")
    if(NOT missing)
      set(missing "it does not run: ${err}")
    endif()
    message(FATAL_ERROR "QUORIN_PYTHON: the Python module is built for the interpreter \
${interpreter} (Python ${version}), which cannot import what the module needs (${missing}). \
${advice}")
  endif()
  set(${version_var} "${version}" PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  quorin_check_python("${QUORIN_PYTHON}" version)
  message(STATUS "Python ${version} at ${QUORIN_PYTHON} serves the quorin module")
endif()
