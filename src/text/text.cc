// Text toolkit: being written.
