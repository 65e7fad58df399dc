# One line per fuzz target: kp_add_fuzz(<folder> LIBS <libraries>)
