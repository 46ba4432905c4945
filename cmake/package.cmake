# Packaging of the Windows deliverables (to come)
