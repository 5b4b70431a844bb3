# The plugin shell: settings store under both code pages, lifecycle and the tick.
foreach(cp 1251 1252)
  if(cp EQUAL 1251)
    set(locale ru_RU.UTF-8)
  else()
    set(locale en_US.UTF-8)
  endif()
  nimbo_wine_test(test_settings_store_${cp} LOCALE ${locale} LOCKS appdata
                  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_settings_store.cpp)
  target_compile_definitions(test_settings_store_${cp} PRIVATE NIMBO_EXPECT_CP=${cp})
endforeach()

nimbo_wine_test(test_lifecycle SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_lifecycle.cpp
                ${CMAKE_SOURCE_DIR}/plugin/export.cpp)
