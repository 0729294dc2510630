# Processes on one machine directory: one holding the lock file as it ends,
# then an installation in one process and the removal in another.
file(REMOVE_RECURSE ${DIR})
set(ENV{HX352_SIM_MACHINE} ${DIR})

# A process that ends holding the printer's lock file ends cleanly.
execute_process(COMMAND ${CTL} check RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
file(TOUCH ${DIR}/C/Windows/System32/spool/drivers/x64/hx352-usb-lock.txt)
execute_process(COMMAND ${CTL} check RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "hx352ctl check holding the lock file exited ${rc}:\n${out}${err}")
endif()

foreach(step install uninstall)
  execute_process(COMMAND ${CTL} ${step} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "hx352ctl ${step} exited ${rc}:\n${out}${err}")
  endif()
  file(READ ${DIR}/machine/spooler.txt spooler)
  string(FIND "${spooler}" "USB Printer Monitor" at)
  if(step STREQUAL "install" AND at EQUAL -1)
    message(FATAL_ERROR "after the installation the saved spooler has no USB Printer Monitor")
  elseif(step STREQUAL "uninstall" AND NOT at EQUAL -1)
    message(FATAL_ERROR "after the removal the saved spooler still has the USB Printer Monitor")
  endif()
endforeach()
file(REMOVE_RECURSE ${DIR})
