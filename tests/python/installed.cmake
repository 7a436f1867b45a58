# Installs the python component into a fresh prefix and imports vyxzeb from
# there on the virtual board: what a user gets from the package, not the
# build tree's copy.  Variables: BUILD, PREFIX, VYXSIM, PYTHON, SITE, ROOT.
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --component python --prefix ${PREFIX}
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "installing the python component failed: ${rc}")
endif()
# The module's library comes from the build tree here (the runtime package
# puts it into /usr/lib on the board).
set(ENV{PYTHONPATH} ${PREFIX}/${SITE})
set(ENV{LD_LIBRARY_PATH} ${BUILD}/lib)
set(script [[
import sys, vyxzeb
assert vyxzeb.__file__.startswith(sys.argv[1]), vyxzeb.__file__
with vyxzeb.Camera() as cam:
    frame = cam.capture()
    print("installed vyxzeb: frame", frame.shape, "mean", frame.mean())
]])
execute_process(COMMAND ${VYXSIM} --root ${ROOT} -- ${PYTHON} -c "${script}" ${PREFIX}
                RESULT_VARIABLE rc TIMEOUT 120)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the installed module did not capture: ${rc}")
endif()
