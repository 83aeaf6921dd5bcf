# The real module in the test viewer: start-up, the handler and the engine. A second
# build of the module with a key that does not load stands beside it, named alike.
tolmira_module(TolmiraBadKey ${CMAKE_CURRENT_BINARY_DIR}/badkey ${CMAKE_CURRENT_BINARY_DIR}/BadMetadataKey.cpp)
add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/BadMetadataKey.cpp
  COMMAND make_metadata_key ${CMAKE_CURRENT_BINARY_DIR}/BadMetadataKey.cpp --broken
  DEPENDS make_metadata_key VERBATIM)
quarvel_add_test(pdfverify_startup_tests LABEL pdfverify
  SOURCES startup_test.cpp
  LIBS vhost
  PROPERTIES ENVIRONMENT QUARVEL_PUMPING_MESSAGE_BOXES=1)
add_dependencies(pdfverify_startup_tests Tolmira TolmiraBadKey)
target_compile_definitions(pdfverify_startup_tests PRIVATE TOLMIRA_PATH="$<TARGET_FILE:Tolmira>"
  TOLMIRA_BADKEY_PATH="$<TARGET_FILE:TolmiraBadKey>" POINTERHOLDER_TRANSITION=4)

quarvel_add_test(pdfverify_handler_tests LABEL pdfverify
  SOURCES handler_test.cpp
  LIBS tolmira_plugin vhost
  PROPERTIES ENVIRONMENT QUARVEL_PUMPING_MESSAGE_BOXES=1)
target_compile_definitions(pdfverify_handler_tests PRIVATE POINTERHOLDER_TRANSITION=4)
quarvel_add_resources(pdfverify_handler_tests ${CMAKE_SOURCE_DIR}/pdfverify/plugin/Tolmira.resources)

quarvel_add_test(pdfverify_mapping_tests LABEL pdfverify
  SOURCES mapping_test.cpp
  LIBS tolmira_plugin)

# Benchmarks (not tests): the engine's collection of signed data.
find_package(benchmark REQUIRED)
find_package(OpenSSL REQUIRED)
add_executable(collect_benchmark collect_benchmark.cpp)
target_link_libraries(collect_benchmark PRIVATE tolmira_plugin vhost pisdk_glue benchmark::benchmark OpenSSL::Crypto)
target_compile_definitions(collect_benchmark PRIVATE POINTERHOLDER_TRANSITION=4)
quarvel_warnings(collect_benchmark)
# Verifying signed PDFs of 1, 10 and 100 MB with vhost-run and the module beside pdfsig,
# whole processes.
add_executable(verify_benchmark verify_benchmark.cpp)
target_link_libraries(verify_benchmark PRIVATE vhost pdffixtures quarvel_testsupport quarvel_testpki
  benchmark::benchmark)
add_dependencies(verify_benchmark Tolmira vhost-run)
target_compile_definitions(verify_benchmark PRIVATE TOLMIRA_PATH="$<TARGET_FILE:Tolmira>"
  VHOST_RUN_PATH="$<TARGET_FILE:vhost-run>" POINTERHOLDER_TRANSITION=4)
quarvel_warnings(verify_benchmark)

# The end-to-end table runs about 50 viewer sessions, each a process of its own waiting on the
# local services: under the sanitizers on a busy machine that takes longer than 300 s.
quarvel_add_test(pdfverify_engine_tests LABEL pdfverify
  SOURCES engine_test.cpp
  LIBS vhost pdffixtures certcheck certcheck_testnet quarvel_testpki
  PROPERTIES TIMEOUT 900 ENVIRONMENT QUARVEL_PUMPING_MESSAGE_BOXES=1)
add_dependencies(pdfverify_engine_tests Tolmira)
target_include_directories(pdfverify_engine_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/certcheck/network)
target_compile_definitions(pdfverify_engine_tests PRIVATE TOLMIRA_PATH="$<TARGET_FILE:Tolmira>" POINTERHOLDER_TRANSITION=4)

# Bad input through the whole module: a raise at every host operation of a verification,
# hostile documents and broken signatures.
quarvel_add_test(pdfverify_faults_tests LABEL pdfverify
  SOURCES engine_faults_test.cpp
  LIBS vhost pdffixtures certcheck_testnet quarvel_testpki
  PROPERTIES ENVIRONMENT QUARVEL_PUMPING_MESSAGE_BOXES=1)
add_dependencies(pdfverify_faults_tests Tolmira)
target_include_directories(pdfverify_faults_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/certcheck/network)
target_compile_definitions(pdfverify_faults_tests PRIVATE TOLMIRA_PATH="$<TARGET_FILE:Tolmira>" POINTERHOLDER_TRANSITION=4)
