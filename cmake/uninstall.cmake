# Run by `cmake --build BUILD --target uninstall`: removes the files that
# the last `cmake --install BUILD` put in place, as install_manifest.txt
# lists them, then each completion directory that this leaves empty, up to
# the prefix's share directory. The directories of programs and manual
# pages stay, empty or not: other programs install there too.
#   cmake -DMANIFEST=BUILD/install_manifest.txt -P uninstall.cmake
cmake_minimum_required(VERSION 3.25)
if(NOT EXISTS "${MANIFEST}")
  message(FATAL_ERROR "${MANIFEST} does not exist: nothing was installed from this build directory")
endif()

file(STRINGS "${MANIFEST}" installed)
set(completion_dirs completions bash-completion site-functions zsh vendor_completions.d
                    vendor-completions fish)
foreach(path IN LISTS installed)
  if(EXISTS "${path}" OR IS_SYMLINK "${path}")
    message(STATUS "Removing: ${path}")
    file(REMOVE "${path}")
    if(EXISTS "${path}" OR IS_SYMLINK "${path}")
      message(FATAL_ERROR "could not remove ${path}")
    endif()
  endif()
  get_filename_component(dir "${path}" DIRECTORY)
  get_filename_component(name "${dir}" NAME)
  while(name IN_LIST completion_dirs AND IS_DIRECTORY "${dir}")
    file(GLOB children LIST_DIRECTORIES true "${dir}/*" "${dir}/.*")
    if(children)
      break()
    endif()
    message(STATUS "Removing the empty directory: ${dir}")
    file(REMOVE_RECURSE "${dir}")
    get_filename_component(dir "${dir}" DIRECTORY)
    get_filename_component(name "${dir}" NAME)
  endwhile()
endforeach()
