# The Ansible collection vantoro.cameras, staged in the build tree as
# build/ansible/ansible_collections/vantoro/cameras with galaxy.yml carrying
# the project's version (the source's galaxy.yml holds @PROJECT_VERSION@ in its
# place). The tests, scripts/package (ansible-galaxy collection build) and the
# Debian package all take it from there. Restaged at every configure, which a
# build runs again whenever a file of the collection changed.

set(VANTORO_COLLECTION_SOURCE ${PROJECT_SOURCE_DIR}/ansible/ansible_collections/vantoro/cameras)
set(VANTORO_COLLECTIONS_ROOT ${PROJECT_BINARY_DIR}/ansible)
set(VANTORO_COLLECTION_DIR ${VANTORO_COLLECTIONS_ROOT}/ansible_collections/vantoro/cameras)

file(REMOVE_RECURSE ${VANTORO_COLLECTION_DIR})
file(GLOB_RECURSE collection_files RELATIVE ${VANTORO_COLLECTION_SOURCE} CONFIGURE_DEPENDS
  ${VANTORO_COLLECTION_SOURCE}/*)
foreach(file ${collection_files})
  if(file MATCHES "(^|/)(__pycache__|\\.pytest_cache)/|^tests/output/")
    continue()
  endif()
  if(file STREQUAL "galaxy.yml")
    configure_file(${VANTORO_COLLECTION_SOURCE}/${file} ${VANTORO_COLLECTION_DIR}/${file} @ONLY)
  else()
    configure_file(${VANTORO_COLLECTION_SOURCE}/${file} ${VANTORO_COLLECTION_DIR}/${file} COPYONLY)
  endif()
endforeach()

# Where Debian's Ansible looks for collections by default. The tests stay in the
# collection's tarball; the package holds what runs.
install(DIRECTORY ${VANTORO_COLLECTION_DIR}/
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/ansible/collections/ansible_collections/vantoro/cameras
  PATTERN tests EXCLUDE
  PATTERN .ansible-lint EXCLUDE
  PATTERN __pycache__ EXCLUDE)
