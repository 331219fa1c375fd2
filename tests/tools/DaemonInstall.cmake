# nimbal_install_daemon(TOOL FOLDER)
#   Places TOOL, one of the VPN daemon stand-ins, as FOLDER/OpenVPN/openvelorn.exe: where the
#   service looks for its daemon when FOLDER is the folder of NimbalService.exe. The default build
#   makes the copy and renews it whenever the tool is rebuilt. TOOL is
#     nimbal_test_daemon    the test daemon, whose management answers each test chooses, or
#     nimbal_ovpn_launcher  the launcher, which runs Debian's openvpn in the daemon's place.
#   FOLDER may hold generator expressions, e.g. $<TARGET_FILE_DIR:NimbalService>.
function(nimbal_install_daemon tool folder)
  set(daemon "${folder}/OpenVPN/openvelorn.exe")
  string(MD5 id "${daemon}")
  add_custom_command(OUTPUT "${daemon}"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${folder}/OpenVPN"
    COMMAND ${CMAKE_COMMAND} -E copy "$<TARGET_FILE:${tool}>" "${daemon}"
    DEPENDS ${tool}
    VERBATIM)
  add_custom_target(nimbal_install_daemon_${id} ALL DEPENDS "${daemon}")
endfunction()
