# Copies SRC to DST only when DST does not exist yet, so a user's own
# "Setting.ini" in the build tree survives rebuilds.
if(NOT EXISTS "${DST}")
  configure_file("${SRC}" "${DST}" COPYONLY)
endif()
