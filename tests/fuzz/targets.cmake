# One line per fuzz target: kp_add_fuzz(<folder> LIBS <libraries>)
kp_add_fuzz(ini LIBS kp_config)
kp_add_fuzz(monitor-csv LIBS kp_monitor)
kp_add_fuzz(dbf LIBS kp_localsql)
