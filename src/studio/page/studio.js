// studio
