// Intentionally empty until the subsystem's first source lands.
