# Fails, naming each file and header, when code outside net/ includes a system
# network header: only the OS network layer talks to the sockets API.
# cmake -DROOT=<source tree> [-DDIRS="util;link;..."] -P system_headers_check.cmake
if(NOT DEFINED ROOT)
  message(FATAL_ERROR "ROOT (the source tree) is not set")
endif()
if(NOT DEFINED DIRS)
  set(DIRS util link ops ui cli app tools)
endif()

set(network_header
  "sys/socket\\.h|sys/un\\.h|sys/poll\\.h|poll\\.h|sys/select\\.h|sys/epoll\\.h|ifaddrs\\.h|netdb\\.h|arpa/[^>]+|netinet/[^>]+|netpacket/[^>]+|net/[^>]+|linux/(netlink|rtnetlink|if[^>]*|sock_diag|inet_diag|in6?|ip|icmp[^>]*|udp|tcp|neighbour|route|socket|sockios|ethtool|net[^>]*)\\.h")
set(found "")
foreach(dir IN LISTS DIRS)
  file(GLOB_RECURSE sources "${ROOT}/${dir}/*.h" "${ROOT}/${dir}/*.hpp" "${ROOT}/${dir}/*.cpp" "${ROOT}/${dir}/*.c")
  foreach(source IN LISTS sources)
    file(STRINGS "${source}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*<(${network_header})>")
    foreach(line IN LISTS lines)
      file(RELATIVE_PATH name "${ROOT}" "${source}")
      string(STRIP "${line}" line)
      list(APPEND found "${name}: ${line}")
    endforeach()
  endforeach()
endforeach()
if(found)
  list(JOIN found "\n  " text)
  message(FATAL_ERROR "system network headers outside net/ (move the call into net/):\n  ${text}")
endif()
message(STATUS "no system network header outside net/ in: ${DIRS}")
