# Platform runtime tests: the configuration database and the services the
# plug-in calls. They link the platform libraries directly, without the host.
foreach(t test_platform_sysdb test_platform_services)
  add_executable(${t} ${CMAKE_CURRENT_LIST_DIR}/${t}.cpp)
  target_link_libraries(${t} PRIVATE sysdb ymap_platform GTest::gtest GTest::gtest_main)
  gtest_discover_tests(${t})
endforeach()
